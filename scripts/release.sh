#!/bin/sh
# release.sh [--pkcs12 FILE --password-file FILE [--ca FILE]]
#
# Builds what a package author takes and writes it to dist/submca-<version>/ (the version from
# exports/version.h):
#
#   submca.dll               the 32-bit module, for the package's Binary table
#   submca-inspect.exe       the support tool for Windows (32-bit, runs on any Windows)
#   submca-inspect           the support tool for Linux (x86_64)
#   README.md                how to author, sequence and diagnose the module's actions
#   inspector/README.md      the support tool's manual, where README.md's links expect it
#   fix-action-types.sh      sets RegisterPR's custom-action types in a package built with wixl
#   SHA256SUMS               the files' SHA-256 sums, for sha256sum -c
#
# With a PKCS#12 file (certificate and private key) and a file holding its password, the DLL
# and the Windows tool are signed with Authenticode, without a time stamp, and the signatures
# are verified against --ca (a PEM file of the trusted root certificates; default: the system's
# list). The same options can come from SUBMCA_SIGN_PKCS12, SUBMCA_SIGN_PASSWORD_FILE and
# SUBMCA_SIGN_CA.
#
# The module and the Windows tool are built in the 32-bit tree (SUBMCA_BUILD_DIR, default
# build/win32, configured here when scripts/build.sh has not done it yet); the Linux tool in
# build/release-native, without the sanitizers of the test build. SUBMCA_DIST_DIR names another
# folder than dist/ to write the release folder into. Their links write no time
# stamp, so two runs on the same commit give the same bytes apart from the signatures.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
pkcs12=${SUBMCA_SIGN_PKCS12:-}
password_file=${SUBMCA_SIGN_PASSWORD_FILE:-}
ca=${SUBMCA_SIGN_CA:-}
usage() {
    echo "usage: release.sh [--pkcs12 FILE --password-file FILE [--ca FILE]]" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
    --pkcs12) pkcs12=$2 ;;
    --password-file) password_file=$2 ;;
    --ca) ca=$2 ;;
    *) usage ;;
    esac
    shift 2
done
if [ -n "$pkcs12" ] && [ -z "$password_file" ]; then
    echo "release.sh: --pkcs12 needs --password-file (a file holding the PKCS#12 password)" >&2
    exit 2
fi
for file in "$pkcs12" "$password_file" "$ca"; do
    [ -z "$file" ] || [ -f "$file" ] || { echo "release.sh: $file does not exist" >&2; exit 2; }
done

version=$(awk '/^#define SUBMCA_VERSION_(MAJOR|MINOR|PATCH|BUILD) / { printf "%s%s", sep, $3; sep = "." }' \
    "$root/exports/version.h")
case "$version" in
*.*.*.*) ;;
*) echo "release.sh: cannot read the version from exports/version.h" >&2; exit 1 ;;
esac

win32=${SUBMCA_BUILD_DIR:-$root/build/win32}
native="$root/build/release-native"
echo "Building submca.dll and submca-inspect.exe in $win32"
if [ ! -f "$win32/build.ninja" ]; then
    cmake -S "$root" -B "$win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" \
        -DSUBMCA_TESTS=OFF >/dev/null
fi
cmake --build "$win32" --target submca submca-inspect
echo "Building the Linux submca-inspect in $native"
cmake -S "$root/tests/native" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel -DSUBMCA_SANITIZE=OFF >/dev/null
cmake --build "$native" --target submca-inspect

dist="${SUBMCA_DIST_DIR:-$root/dist}/submca-$version"
rm -rf "$dist"
mkdir -p "$dist"
cp "$win32/submca.dll" "$win32/submca-inspect.exe" "$native/submca-inspect" "$dist/"
strip "$dist/submca-inspect"
cp "$root/README.md" "$dist/README.md"
mkdir -p "$dist/inspector"
cp "$root/inspector/README.md" "$dist/inspector/README.md"
cp "$root/scripts/fix-action-types.sh" "$dist/"

if [ -n "$pkcs12" ]; then
    command -v osslsigncode >/dev/null || { echo "release.sh: osslsigncode is missing (scripts/setup.sh installs it)" >&2; exit 1; }
    for file in submca.dll submca-inspect.exe; do
        echo "Signing $file"
        osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 \
            -n "submca $version" -in "$dist/$file" -out "$dist/$file.signed" >/dev/null
        mv "$dist/$file.signed" "$dist/$file"
        if ! osslsigncode verify ${ca:+-CAfile "$ca"} -in "$dist/$file" >"$dist/$file.verify" 2>&1; then
            cat "$dist/$file.verify" >&2
            rm -f "$dist/$file.verify"
            echo "release.sh: the signature of $file does not verify" >&2
            exit 1
        fi
        rm -f "$dist/$file.verify"
        echo "  signature verified"
    done
fi

(cd "$dist" && sha256sum submca.dll submca-inspect.exe submca-inspect README.md inspector/README.md fix-action-types.sh >SHA256SUMS)
echo "Release written to $dist:"
(cd "$dist" && cat SHA256SUMS)
