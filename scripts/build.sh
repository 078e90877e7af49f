#!/bin/sh
# Builds build/win32 (the shipped 32-bit DLL with the stand-ins, the packages and the tests that
# run it), build/native (the byte-level core with the native compiler, sanitizers and fuzzers)
# and build/win64 (the same module sources for x86_64: a compile check for pointer-size
# assumptions, not executed). Extra arguments go to the configuration of the tree with the tests.
#
# On a machine whose kernel runs no 32-bit programs (scripts/runs-32-bit), 32-bit Wine cannot
# start, so the tests are built in build/win64 around the x86_64 build of the same sources, and
# build/win32 holds the shipped DLL only (its shape is still checked).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if "$root/scripts/runs-32-bit"; then
    tested=win32
    other=win64
else
    tested=win64
    other=win32
    echo "This kernel runs no 32-bit programs: the tests run the x86_64 build (build/win64) under 64-bit Wine"
fi
toolchain() { [ "$1" = win32 ] && echo cmake/toolchain-i686.cmake || echo cmake/toolchain-x86_64.cmake; }
echo "Building build/$other (the $([ $other = win32 ] && echo shipped 32-bit module, not executed here || echo x86_64 compile check))"
cmake -S . -B "build/$other" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(toolchain $other)" -DSUBMCA_TESTS=OFF >/dev/null
cmake --build "build/$other"
echo "Building build/native (the byte-level core, its tests and the inspector for this machine)"
cmake -S tests/native -B build/native -G Ninja >/dev/null
cmake --build build/native
echo "Building build/$tested (the module, its stand-ins, packages and tests)"
cmake -S . -B "build/$tested" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$(toolchain $tested)" \
    -DSUBMCA_TESTS=ON -DSUBMCA_OTHER_DIR="$root/build/$other" \
    -DSUBMCA_NATIVE_DIR="$root/build/native" "$@" >/dev/null
cmake --build "build/$tested"
