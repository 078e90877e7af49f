#!/bin/sh
# Installs what is missing, builds everything and runs every test (Windows tests under Wine in a
# throwaway prefix). Ends with ctest's summary; exits non-zero on any failure.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
mkdir -p "$root/build"
echo "Building (output in build/build-output.log) ..."
"$root/scripts/build.sh" >"$root/build/build-output.log" 2>&1 || { cat "$root/build/build-output.log"; exit 1; }
cd "$root/build/win32"
ctest --output-on-failure
