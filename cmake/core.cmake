# The portable byte-level core: Blowfish, MD5, the record-file codec and the control-file
# container codec. Plain C++17 without windows.h, shared by the module and the native tests.
# The paths are rooted at the repository (CMAKE_SOURCE_DIR of the module's build), found from
# this file so that the native test project, whose own source folder is tests/native, gets
# the same list.
get_filename_component(SUBMCA_CORE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(SUBMCA_CORE_SOURCES
    ${SUBMCA_CORE_ROOT}/framework/blowfish.cpp
    ${SUBMCA_CORE_ROOT}/framework/md5.cpp
    ${SUBMCA_CORE_ROOT}/framework/recordstore.cpp
    ${SUBMCA_CORE_ROOT}/update/scdcontainer.cpp
)
