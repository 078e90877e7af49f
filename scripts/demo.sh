#!/bin/sh
# Shows the module at work: installs the demo package into a fresh Wine prefix and reports what
# each of the module's actions did.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
step() { printf '\n== %s\n' "$*"; }

step "Checking the tools (installs missing Debian packages once)"
"$root/scripts/setup.sh"

step "Building the module (32-bit shipping DLL and 64-bit DLL for Wine)"
mkdir -p "$root/build"
"$root/scripts/build.sh" >"$root/build/build-output.log" 2>&1 ||
    { cat "$root/build/build-output.log"; exit 1; }
ls -l "$root/build/win32/submca.dll" "$root/build/win64/submca.dll" | awk '{print "   " $5 " bytes  " $9}'

demo="$root/build/demo"
export WINEPREFIX="$demo/prefix"
step "Creating a fresh Wine prefix in $WINEPREFIX"
"$root/scripts/wine-prefix" create "$WINEPREFIX"
wine() { "$root/scripts/wine-run" "$@"; }
logs="$demo/logs"
rm -rf "$logs" && mkdir -p "$logs"
package=$(wine winepath -w "$root/build/win64/packages/submca-demo.msi" 2>/dev/null)

engine_data() {
    wine reg query 'HKLM\Software\Korvalin\InstalledApps' /v ORBSubmissionEngineData 2>/dev/null |
        tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p'
}

krvl_lines() {
    # Wine writes the verbose log as 8-bit text (older versions as UTF-16).
    if [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" = "fffe" ]; then iconv -f UTF-16LE -t UTF-8 "$1"; else cat "$1"; fi |
        tr -d '\r' | sed -n 's/.*\(KRVL.*\)/   \1/p'
}

run_msiexec() { # $1: /i or /x, $2: log name
    log="$logs/$2.log"
    timeout 180 "$root/scripts/wine-run" msiexec "$1" "$package" /qn /l*v "$(wine winepath -w "$log")" || true
    wineserver -w
    printf '   msiexec %s finished; KRVL lines of the installer log:\n' "$1"
    lines=$(krvl_lines "$log")
    if [ -n "$lines" ]; then printf '%s\n' "$lines"; else echo "   (none: no action reported a problem)"; fi
}

step "Install: the package records the engine data folder, then WriteInstalledAppsKey shortens it"
long=$(wine winepath -w "$WINEPREFIX/drive_c/Program Files/Korvalin/Submission Engine Data" 2>/dev/null)
printf '   ORBSubmissionEngineData as the package writes it: %s\n' "$long"
run_msiexec /i install
printf '   ORBSubmissionEngineData after the installation:   %s\n' "$(engine_data)"

step "Uninstall"
run_msiexec /x uninstall
after=$(engine_data)
printf '   ORBSubmissionEngineData after removal: %s\n' "${after:-(removed with the package)}"

wineserver -k 2>/dev/null || true
step "Done. Full installer logs: $logs"
