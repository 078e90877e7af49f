#!/bin/sh
# Shows the module at work: plays an installation, a repair, a removal and an installation that
# fails and rolls back, with the demo package in a fresh Wine prefix, and reports after each step
# what the module's actions did.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
step() { printf '\n== %s\n' "$*"; }

step "Checking the tools (installs missing Debian packages once)"
"$root/scripts/setup.sh"

step "Building the module (32-bit shipping DLL, 64-bit DLL for Wine, stand-ins, demo package)"
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
drive="$WINEPREFIX/drive_c"
package=$(wine winepath -w "$root/build/win64/packages/submca-demo.msi" 2>/dev/null)

# The updater is a product of its own, installed before this one: its stand-in goes where the
# real one would live and registers its COM classes.
updater="$drive/Program Files/Korvalin/PatchRelay"
mkdir -p "$updater"
cp "$root/build/win64/standins/patchrelay/patchrelay.dll" "$updater/"
wine regsvr32 /s "$(wine winepath -w "$updater/patchrelay.dll" 2>/dev/null)"
wineserver -w
echo "   updater stand-in registered from C:\\Program Files\\Korvalin\\PatchRelay"

registry_value() { # key value
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*[[:space:]]*//p'
}

report() {
    data=$(registry_value 'HKLM\Software\Korvalin\InstalledApps' ORBSubmissionEngineData)
    printf '   ORBSubmissionEngineData: %s\n' "${data:-(not set)}"
    products=$(grep -o '^\[.*\]\|^ProductName=.*' "$updater/patchrelay-products.txt" 2>/dev/null |
        paste -d ' ' - - | sed 's/ProductName=//')
    if [ -n "$products" ]; then
        printf '   products registered with the updater:\n'
        printf '%s\n' "$products" | sed 's/^/     /'
    else
        printf '   products registered with the updater: none\n'
    fi
}

krvl_lines() {
    # Wine writes the verbose log as 8-bit text (older versions as UTF-16).
    if [ "$(head -c 2 "$1" | od -An -tx1 | tr -d ' ')" = "fffe" ]; then iconv -f UTF-16LE -t UTF-8 "$1"; else cat "$1"; fi |
        tr -d '\r' | sed -n 's/.*\(KRVL.*\)/     \1/p'
}

run_msiexec() { # log-name msiexec-arguments...
    log="$logs/$1.log"
    shift
    status=0
    timeout 300 "$root/scripts/wine-run" msiexec "$@" /qn /l*v "$(wine winepath -w "$log" 2>/dev/null)" || status=$?
    wineserver -w
    # Wine hands back msiexec's result cut to 8 bits (1603 arrives as 67).
    if [ "$status" -eq 0 ]; then
        echo "   msiexec: success"
    else
        echo "   msiexec: failed (exit code $status); the installer rolled back what it had done"
    fi
    lines=$(krvl_lines "$log")
    printf '   KRVL lines of the installer log:\n'
    if [ -n "$lines" ]; then printf '%s\n' "$lines"; else echo "     (none)"; fi
}

step "1. Install"
long=$(wine winepath -w "$drive/Program Files/Korvalin/Submission Engine Data" 2>/dev/null)
printf '   the package records the engine data folder as %s\n' "$long"
run_msiexec install /i "$package"
report

step "2. Repair: the products are removed from the updater (the module registers on first installation only)"
run_msiexec repair /i "$package" REINSTALL=ALL REINSTALLMODE=omus
report

step "3. Uninstall"
run_msiexec uninstall /x "$package"
report

step "4. Install again, with a later step of the installation failing: everything rolls back"
run_msiexec failed-install /i "$package" DEMOFAILURE=1
report

wineserver -k 2>/dev/null || true
step "Done. Full installer logs: $logs"
