#!/bin/sh
# Installs what is missing, builds everything and runs every test (Windows tests under Wine in a
# throwaway prefix). Ends with ctest's summary; exits non-zero on any failure.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
mkdir -p "$root/build"
echo "Building (output in build/build-output.log) ..."
"$root/scripts/build.sh" >"$root/build/build-output.log" 2>&1 || { cat "$root/build/build-output.log"; exit 1; }
tested=win32
if ! "$root/scripts/runs-32-bit"; then
    tested=win64
    echo "This kernel runs no 32-bit programs (ia32 emulation is off): 32-bit Wine cannot start, so the"
    echo "suites run the x86_64 build of the same sources in a 64-bit prefix; the shipped 32-bit DLL is"
    echo "built and its shape checked, but not executed."
fi
cd "$root/build/$tested"
ctest --output-on-failure
