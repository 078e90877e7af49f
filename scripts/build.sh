#!/bin/sh
# Builds both Windows modules, build/win32 (the shipping 32-bit DLL) and build/win64 (the same
# sources for 64-bit Wine, with the tests), and build/native (the byte-level core with the native
# compiler, sanitizers and fuzzers). Extra arguments go to the win64 configuration.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake -DSUBMCA_TESTS=OFF >/dev/null
cmake --build build/win32
cmake -S tests/native -B build/native -G Ninja >/dev/null
cmake --build build/native
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
    -DSUBMCA_TESTS=ON -DSUBMCA_WIN32_MODULE="$root/build/win32/submca.dll" \
    -DSUBMCA_NATIVE_DIR="$root/build/native" "$@" >/dev/null
cmake --build build/win64
