# cmake -DFIRST=... -DSECOND=... -DSTAMPED=a;b -P check_reproducible.cmake
# Fails unless FIRST and SECOND (two links of the same module from the same sources) are equal byte
# for byte, and each file of STAMPED carries no time of linking: in the PE format the COFF file
# header follows the 4-byte signature at the offset stored at 0x3C, and its TimeDateStamp is the
# 32-bit number 4 bytes into it.
cmake_policy(VERSION 3.20)

function(fail text)
    message("check_reproducible: ${text}")
    message(FATAL_ERROR "check_reproducible failed")
endfunction()

# The little-endian 32-bit number at offset in file, as a decimal number.
function(read_u32 file offset out)
    file(READ "${file}" hex OFFSET ${offset} LIMIT 4 HEX)
    string(LENGTH "${hex}" length)
    if(NOT length EQUAL 8)
        fail("${file} ends before offset ${offset}")
    endif()
    set(bigEndian "")
    foreach(at 6 4 2 0)
        string(SUBSTRING "${hex}" ${at} 2 byte)
        string(APPEND bigEndian "${byte}")
    endforeach()
    math(EXPR value "0x${bigEndian}")
    set(${out} ${value} PARENT_SCOPE)
endfunction()

foreach(var FIRST SECOND STAMPED)
    if(NOT DEFINED ${var})
        fail("${var} not given")
    endif()
endforeach()
file(SHA256 "${FIRST}" first)
file(SHA256 "${SECOND}" second)
if(NOT first STREQUAL second)
    fail("${FIRST} and ${SECOND} differ although linked from the same sources")
endif()
foreach(file IN LISTS STAMPED)
    read_u32("${file}" 60 header)
    math(EXPR stampAt "${header} + 8")
    read_u32("${file}" ${stampAt} stamp)
    if(NOT stamp EQUAL 0)
        fail("${file} carries the link time ${stamp} in its PE header")
    endif()
endforeach()
message("check_reproducible: ${FIRST} and ${SECOND} are equal (SHA-256 ${first}); no link time in ${STAMPED}")
