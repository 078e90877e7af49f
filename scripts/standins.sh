#!/bin/sh
# standins.sh PREFIX ENGINE_FOLDER
#
# Puts the stand-ins of the maker's other products into a Wine prefix, so that a package built
# around submca.dll can be installed, repaired, removed and rolled back there without them:
#
#   - the shared runtime: srSvc.dll (the service host) and srVrTrst.dll (the trust verifier) in
#     <Common Files>\Korvalin Shared, and the InstalledApps value "Shared Runtime" naming it;
#   - the updater: patchrelay.dll in <Program Files>\Korvalin\PatchRelay, registered as a 32-bit
#     in-process COM server;
#   - the service host's list of services: a "Submission" configuration that runs the engine
#     ENGINE_FOLDER\vexcore.dll, the engine the package installs, as a product's earlier
#     installation would have left it.
#
# ENGINE_FOLDER is the Windows path of the folder the package installs vexcore.dll into (the
# InstalledApps value ORBSubmissionEngine), for example 'C:\Program Files (x86)\Acme\Engine'.
# PREFIX is created (as a 64-bit Windows, or a 32-bit one with WINEARCH=win32) when it does not
# exist. The stand-ins come from the 32-bit build tree (SUBMCA_BUILD_DIR, by default
# build/win32; scripts/build.sh makes it); stand-ins of the x86_64 tree (the tests' build on a
# machine that runs no 32-bit programs) go where a 64-bit module looks for them. Running the script again puts fresh copies in place
# and empties the stand-ins' journals and stores.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 2 ]; then
    echo "usage: standins.sh PREFIX ENGINE_FOLDER   (ENGINE_FOLDER as a Windows path, e.g. 'C:\\Acme\\Engine')" >&2
    exit 2
fi
prefix=$1
engine_folder=$2
case "$engine_folder" in
[A-Za-z]:\\*) ;;
*)
    echo "standins.sh: ENGINE_FOLDER must be a Windows path such as 'C:\\Program Files (x86)\\Acme\\Engine', not '$engine_folder'" >&2
    exit 2
    ;;
esac
engine_folder=${engine_folder%\\}
build=${SUBMCA_BUILD_DIR:-$root/build/win32}
standins="$build/standins"
for dll in srsvc/srSvc.dll srvrtrst/srVrTrst.dll patchrelay/patchrelay.dll; do
    if [ ! -f "$standins/$dll" ]; then
        echo "standins.sh: $standins/$dll is missing; build the 32-bit tree first (sh scripts/build.sh)" >&2
        exit 1
    fi
done

mkdir -p "$(dirname "$prefix")"
export WINEPREFIX
WINEPREFIX=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX (${WINEARCH:-win64})"
    "$root/scripts/wine-prefix" create "$WINEPREFIX" "${WINEARCH:-win64}"
fi
wine() { "$root/scripts/wine-run" "$@"; }
# A Windows path's folder in the prefix, through the prefix's drive links (c: is drive_c).
unixpath() {
    drive_letter=$(printf '%s' "$1" | cut -c1 | tr 'A-Z' 'a-z')
    printf '%s/dosdevices/%s:%s' "$WINEPREFIX" "$drive_letter" "$(printf '%s' "$1" | cut -c3- | tr '\\' /)"
}
# The module is 32-bit: it reads the 32-bit registry view, and a 32-bit program's folders are the
# "(x86)" ones on a 64-bit Windows. Stand-ins of the x86_64 build serve a 64-bit module.
bits=32
case "$(x86_64-w64-mingw32-objdump -f "$standins/srsvc/srSvc.dll")" in *pei-x86-64*) bits=64 ;; esac
regview() { wine reg "$@" "/reg:$bits" >/dev/null; }
drive="$WINEPREFIX/drive_c"
if [ $bits = 32 ] && [ -d "$drive/windows/syswow64" ]; then
    programs_win='C:\Program Files (x86)'
else
    programs_win='C:\Program Files'
fi
shared_win="$programs_win\\Common Files\\Korvalin Shared"
updater_win="$programs_win\\Korvalin\\PatchRelay"
shared=$(unixpath "$shared_win")
updater=$(unixpath "$updater_win")
engine=$(unixpath "$engine_folder")

mkdir -p "$shared" "$updater" "$engine"
rm -f "$shared"/srsvc-*.txt "$shared"/srvrtrst-*.txt "$updater"/patchrelay-*.txt "$engine"/vexcore-*.txt
cp "$standins/srsvc/srSvc.dll" "$standins/srvrtrst/srVrTrst.dll" "$shared/"
cp "$standins/patchrelay/patchrelay.dll" "$updater/"
regview add 'HKLM\Software\Korvalin\InstalledApps' /v 'Shared Runtime' /t REG_SZ /d "$shared_win" /f
printf '[Submission]\r\n%s\\vexcore.dll|ORBSubmissionEngine\r\n' "$engine_folder" >"$shared/srsvc-services.txt"
wine regsvr32 /s "$updater_win\\patchrelay.dll"
wineserver -w

printf '%s\n' "Stand-ins in place in $WINEPREFIX:"
printf '%s\n' "  shared runtime  $shared_win (srSvc.dll, srVrTrst.dll)"
printf '%s\n' "                  HKLM\Software\Korvalin\InstalledApps 'Shared Runtime' ($bits-bit view)"
printf '%s\n' "  service host    runs $engine_folder\vexcore.dll in its [Submission] configuration"
printf '%s\n' "  updater         $updater_win\patchrelay.dll, registered"
printf '%s\n' "State and journals (UTF-8 text, kept beside each DLL; the installer never removes them):"
printf '%s\n' "  $shared_win\srsvc-services.txt, srsvc-journal.txt, srvrtrst-journal.txt"
printf '%s\n' "  $updater_win\patchrelay-products.txt, patchrelay-journal.txt"
printf '%s\n' "  $engine_folder\vexcore-configs.txt, vexcore-journal.txt (once the package's vexcore.dll has run)"
