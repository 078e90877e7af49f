# MSI packages around the 64-bit module, built with wixl. wixl cannot express every custom
# action type (it drops rollback and commit and marks actions no-impersonate), so the types are
# fixed afterwards with msibuild, given as "Action=Type" pairs after TYPES. MODULE names the DLL
# target that $(var.ModuleDll) stands for (submca unless given).
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
set(SUBMCA_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)

function(submca_add_package name wxs)
    cmake_parse_arguments(PKG "" "MODULE" "TYPES" ${ARGN})
    if(NOT PKG_MODULE)
        set(PKG_MODULE submca)
    endif()
    set(msi ${SUBMCA_PACKAGE_DIR}/${name}.msi)
    set(fixups)
    foreach(pair IN LISTS PKG_TYPES)
        string(REPLACE "=" ";" parts "${pair}")
        list(GET parts 0 action)
        list(GET parts 1 type)
        list(APPEND fixups COMMAND ${MSIBUILD} ${msi} -q "UPDATE CustomAction SET Type=${type} WHERE Action='${action}'")
    endforeach()
    add_custom_command(OUTPUT ${msi}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${SUBMCA_PACKAGE_DIR}
        COMMAND ${WIXL} -a x64 -D ModuleDll=$<TARGET_FILE_NAME:${PKG_MODULE}> -o ${msi} ${wxs}
        ${fixups}
        DEPENDS ${wxs} ${PKG_MODULE}
        # wixl takes source files relative to its working folder only.
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${PKG_MODULE}>
        VERBATIM)
    add_custom_target(package_${name} ALL DEPENDS ${msi})
endfunction()
