#!/bin/sh
# Builds build/win32 (the shipping 32-bit DLL with the stand-ins, the packages and the tests that
# run it), build/native (the byte-level core with the native compiler, sanitizers and fuzzers)
# and build/win64 (the same module sources for x86_64: a compile check for pointer-size
# assumptions, not executed). Extra arguments go to the win32 configuration.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
echo "Building build/win64 (the x86_64 compile check)"
cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake -DSUBMCA_TESTS=OFF >/dev/null
cmake --build build/win64
echo "Building build/native (the byte-level core, its tests and the inspector for this machine)"
cmake -S tests/native -B build/native -G Ninja >/dev/null
cmake --build build/native
echo "Building build/win32 (the shipped 32-bit module, its stand-ins, packages and tests)"
cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake \
    -DSUBMCA_TESTS=ON -DSUBMCA_WIN64_DIR="$root/build/win64" \
    -DSUBMCA_NATIVE_DIR="$root/build/native" "$@" >/dev/null
cmake --build build/win32
