# MSI packages around the 32-bit module, built with wixl as 32-bit packages (no -a x64, no Win64
# components), so that the installer writes their registry values into the 32-bit view, where the
# module reads them; around the x86_64 build (where that one carries the tests) as 64-bit packages
# whose components write the 64-bit view ($(var.Win64) in each component). wixl cannot express every custom action type (it drops rollback and commit
# and marks actions no-impersonate), so the types are fixed afterwards with msibuild, given as
# "Action=Type" pairs after TYPES. MODULES gives "Variable=target" pairs: the DLL target that
# $(var.Variable) names (ModuleDll=submca unless given).
# QUERIES are further msibuild queries for what wixl cannot write at all; FILES are plain files
# the package carries, staged beside the DLLs under their own names. FIX_TYPES runs
# scripts/fix-action-types.sh on the package, as a package author does, instead of TYPES for the
# module's own actions.
find_program(WIXL wixl REQUIRED)
find_program(MSIBUILD msibuild REQUIRED)
set(SUBMCA_PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(SUBMCA_WIXL_ARCH -D Win64=no)
else()
    set(SUBMCA_WIXL_ARCH -a x64 -D Win64=yes)
endif()

function(submca_add_package name wxs)
    cmake_parse_arguments(PKG "FIX_TYPES" "" "TYPES;MODULES;QUERIES;FILES" ${ARGN})
    if(NOT PKG_MODULES)
        set(PKG_MODULES ModuleDll=submca)
    endif()
    set(msi ${SUBMCA_PACKAGE_DIR}/${name}.msi)
    # wixl takes source files relative to its working folder only, so the DLLs are staged there.
    set(stage ${SUBMCA_PACKAGE_DIR}/${name}.files)
    file(MAKE_DIRECTORY ${stage})
    set(staging)
    set(defines)
    set(targets)
    foreach(pair IN LISTS PKG_MODULES)
        string(REPLACE "=" ";" parts "${pair}")
        list(GET parts 0 variable)
        list(GET parts 1 target)
        list(APPEND staging COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${stage}/)
        list(APPEND defines -D ${variable}=$<TARGET_FILE_NAME:${target}>)
        list(APPEND targets ${target})
    endforeach()
    foreach(file IN LISTS PKG_FILES)
        list(APPEND staging COMMAND ${CMAKE_COMMAND} -E copy ${file} ${stage}/)
    endforeach()
    set(fixups)
    foreach(pair IN LISTS PKG_TYPES)
        string(REPLACE "=" ";" parts "${pair}")
        list(GET parts 0 action)
        list(GET parts 1 type)
        list(APPEND fixups COMMAND ${MSIBUILD} ${msi} -q "UPDATE CustomAction SET Type=${type} WHERE Action='${action}'")
    endforeach()
    foreach(query IN LISTS PKG_QUERIES)
        list(APPEND fixups COMMAND ${MSIBUILD} ${msi} -q "${query}")
    endforeach()
    if(PKG_FIX_TYPES)
        list(APPEND fixups COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/fix-action-types.sh ${msi})
    endif()
    add_custom_command(OUTPUT ${msi}
        ${staging}
        COMMAND ${WIXL} ${SUBMCA_WIXL_ARCH} ${defines} -o ${msi} ${wxs}
        ${fixups}
        DEPENDS ${wxs} ${targets} ${PKG_FILES} ${CMAKE_SOURCE_DIR}/scripts/fix-action-types.sh
        WORKING_DIRECTORY ${stage}
        VERBATIM)
    add_custom_target(package_${name} ALL DEPENDS ${msi})
endfunction()
