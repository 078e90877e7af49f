#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need; does nothing (quietly)
# when they are all there already. The shipped module is 32-bit: its tests need 32-bit Wine
# (wine32:i386) beside the 64-bit one. On a kernel that runs no 32-bit programs, 32-bit Wine cannot
# start, and while it is installed Debian's wine starts it for every program: there it is left
# out (and removed), so that the 64-bit Wine runs the x86_64 build's tests instead.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
packages="cmake ninja-build g++ clang libclang-rt-14-dev libssl-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686
          binutils-mingw-w64-x86-64 wine wine64 wixl msitools googletest clang-format osslsigncode openssl"
if "$root/scripts/runs-32-bit"; then
    packages="$packages wine32:i386"
elif dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "setup: this kernel runs no 32-bit programs (ia32 emulation is off): removing wine32:i386, which cannot start here"
    $sudo apt-get remove -y -qq wine32:i386 >/dev/null
fi
missing=
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
# shellcheck disable=SC2086
if ! $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null; then
    echo "setup: could not install:$missing (the 32-bit tests need wine32:i386 from the i386 architecture)" >&2
    exit 1
fi
