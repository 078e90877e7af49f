# The native half of the inspector's agreement check, run as "cmake -P":
#   -DMODE=prepare -DDIR=<folder> -DSAMPLE=<plain control file> [-DNATIVE=<native submca-inspect>]
#       starts the shared folder: the sample as plain.xml and, with the native build, the
#       container it enciphers as native-SCD.xml;
#   -DMODE=compare -DDIR=<folder> -DNATIVE=<native submca-inspect>
#       runs the native build on every command the Windows build ran there (<name>.args) and
#       fails unless the exit status and both output streams are the same byte for byte.
if(MODE STREQUAL "prepare")
    file(REMOVE_RECURSE "${DIR}")
    file(MAKE_DIRECTORY "${DIR}")
    configure_file("${SAMPLE}" "${DIR}/plain.xml" COPYONLY)
    if(NATIVE)
        execute_process(COMMAND "${NATIVE}" scd --encipher plain.xml -o native-SCD.xml
            WORKING_DIRECTORY "${DIR}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "native submca-inspect --encipher failed (${status}): ${err}")
        endif()
    endif()
elseif(MODE STREQUAL "compare")
    file(GLOB cases RELATIVE "${DIR}" "${DIR}/*.args")
    list(LENGTH cases count)
    if(count EQUAL 0)
        message(FATAL_ERROR "no commands of the Windows build in ${DIR}: did inspector_wine_tests run?")
    endif()
    set(failures "")
    foreach(case IN LISTS cases)
        string(REGEX REPLACE "\\.args$" "" name "${case}")
        file(READ "${DIR}/${case}" arguments)
        separate_arguments(arguments UNIX_COMMAND "${arguments}")
        file(READ "${DIR}/${name}.status" windows_status)
        execute_process(COMMAND "${NATIVE}" ${arguments}
            WORKING_DIRECTORY "${DIR}" RESULT_VARIABLE native_status
            OUTPUT_FILE "${DIR}/${name}.native.out" ERROR_FILE "${DIR}/${name}.native.err")
        if(NOT native_status STREQUAL windows_status)
            string(APPEND failures "${name}: exit status ${native_status} natively, ${windows_status} on Windows\n")
        endif()
        foreach(stream out err)
            execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files
                "${DIR}/${name}.${stream}" "${DIR}/${name}.native.${stream}" RESULT_VARIABLE different)
            if(different)
                string(APPEND failures "${name}: standard ${stream} differs (${name}.${stream}, ${name}.native.${stream})\n")
            endif()
        endforeach()
    endforeach()
    if(failures)
        message(FATAL_ERROR "the builds disagree:\n${failures}")
    endif()
    message(STATUS "${count} commands give the same status and output in both builds")
else()
    message(FATAL_ERROR "MODE must be prepare or compare")
endif()
