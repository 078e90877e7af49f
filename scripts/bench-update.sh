#!/bin/sh
# Times UpdateQSN under Wine on generated control files of 100, 1,000 and 10,000 controls (or the
# numbers of controls given as arguments) against MSXML alone loading and walking the same file,
# and prints the figures and the ratios the performance targets speak of. Runs in a throwaway
# Wine prefix of its own. Builds build/win32 first (scripts/build.sh) when it is not there yet.
# The figures are for reading: nothing here passes or fails on them.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win32
if [ -f "$build/build.ninja" ]; then
    cmake --build "$build" --target update_bench >/dev/null
else
    sh "$root/scripts/build.sh"
fi
prefix=$build/bench-prefix
trap '"$root/scripts/wine-prefix" destroy "$prefix"' EXIT
trap 'exit 130' INT TERM
"$root/scripts/wine-prefix" create "$prefix"
WINEPREFIX=$prefix "$root/scripts/wine-run" "$build/tests/bench/update_bench.exe" "$@"
