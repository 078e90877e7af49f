# submca-inspect, the support engineers' reader of the module's files. Included by the Windows
# build (top-level CMakeLists.txt) and by the native project (tests/native); each passes the
# target that provides the byte-level core (SUBMCA_CORE_SOURCES).
get_filename_component(SUBMCA_INSPECTOR_DIR "${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)

# The log command's reading and analysis, also built on their own by the benchmark and the fuzzer.
set(SUBMCA_LOG_SOURCES
    ${SUBMCA_INSPECTOR_DIR}/logreader.cpp
    ${SUBMCA_INSPECTOR_DIR}/loganalysis.cpp
    ${SUBMCA_INSPECTOR_DIR}/logcalls.cpp
    ${SUBMCA_INSPECTOR_DIR}/logforms.cpp
    ${SUBMCA_INSPECTOR_DIR}/logmeaning.cpp
    ${SUBMCA_INSPECTOR_DIR}/logscript.cpp
    ${SUBMCA_INSPECTOR_DIR}/logsession.cpp
    ${SUBMCA_INSPECTOR_DIR}/logverdict.cpp
    ${SUBMCA_INSPECTOR_DIR}/text.cpp
)
# Everything but the entry point and the platform's services.
set(SUBMCA_INSPECTOR_SOURCES
    ${SUBMCA_INSPECTOR_DIR}/checkcommand.cpp
    ${SUBMCA_INSPECTOR_DIR}/commands.cpp
    ${SUBMCA_INSPECTOR_DIR}/logcommand.cpp
    ${SUBMCA_LOG_SOURCES}
    ${SUBMCA_INSPECTOR_DIR}/recordmeaning.cpp
    ${SUBMCA_INSPECTOR_DIR}/recordscommand.cpp
    ${SUBMCA_INSPECTOR_DIR}/scdcommand.cpp
    ${SUBMCA_INSPECTOR_DIR}/xmlreader.cpp
)

# Defines submca_inspect_lib (everything but the entry point, for the tests) and the
# executable submca-inspect, both linked to core_target.
function(submca_add_inspector core_target)
    set(dir ${SUBMCA_INSPECTOR_DIR})
    if(WIN32)
        set(platform_source ${dir}/platform_windows.cpp)
    else()
        set(platform_source ${dir}/platform_posix.cpp)
    endif()
    add_library(submca_inspect_lib STATIC ${SUBMCA_INSPECTOR_SOURCES} ${platform_source})
    target_include_directories(submca_inspect_lib PUBLIC ${dir} ${SUBMCA_CORE_ROOT})
    target_compile_options(submca_inspect_lib PRIVATE ${SUBMCA_WARNINGS})
    target_link_libraries(submca_inspect_lib PUBLIC ${core_target})
    if(WIN32)
        target_link_libraries(submca_inspect_lib PUBLIC advapi32)
    endif()

    if(WIN32)
        add_executable(submca-inspect ${dir}/main.cpp ${dir}/submca-inspect.rc)
    else()
        add_executable(submca-inspect ${dir}/main.cpp)
    endif()
    target_compile_options(submca-inspect PRIVATE ${SUBMCA_WARNINGS})
    target_link_libraries(submca-inspect PRIVATE submca_inspect_lib)
    if(WIN32)
        # wmain: the arguments arrive as UTF-16 whatever the console's code page. Like the
        # module, the program drops unused code and its symbols and has no link time stamp.
        target_link_options(submca-inspect PRIVATE -municode -Wl,--gc-sections -s)
    endif()
endfunction()
