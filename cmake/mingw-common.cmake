# The -posix compilers: the win32 thread model lacks std::mutex, which GoogleTest needs.
set(CMAKE_C_COMPILER ${SUBMCA_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SUBMCA_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SUBMCA_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SUBMCA_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Everything the compiler runtime provides is linked in: the module may import Windows system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
