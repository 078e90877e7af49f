#!/bin/sh
# Shows the module at work: installs the reference package into a fresh Wine prefix, then plays a
# repair, a removal and an installation that fails and rolls back, and reports after each step
# what the module's four actions did.
#
# --short (used by the test command, on an existing build): only the installation, the removal
# and an installation that rolls back, and a non-zero exit when one did not do what the demo
# shows.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
short=false
[ "${1:-}" = "--short" ] && short=true
step() { printf '\n== %s\n' "$*"; }
failures=0
expect() { # description, condition...
    what=$1
    shift
    if "$@"; then return 0; fi
    echo "   DEMO CHECK FAILED: $what"
    failures=$((failures + 1))
}

if ! $short; then
    step "Checking the tools (installs missing Debian packages once)"
    "$root/scripts/setup.sh"

    step "Building the module (32-bit shipping DLL with the stand-ins and the reference package; 64-bit compile check)"
    echo "   (a few minutes on a new clone; the whole output goes to build/build-output.log)"
    mkdir -p "$root/build"
    status_file="$root/build/build-status"
    { "$root/scripts/build.sh" 2>&1; echo $? >"$status_file"; } | tee "$root/build/build-output.log" |
        while IFS= read -r line; do
            case "$line" in
            Building\ *) echo "   $line" ;;
            \[*0/*\]*) steps=${line%%]*}; echo "     step ${steps#[}" ;;
            esac
        done
    [ "$(cat "$status_file")" = 0 ] || { tail -n 40 "$root/build/build-output.log"; exit 1; }
    ls -l "$root/build/win32/submca.dll" "$root/build/win64/submca.dll" | awk '{print "   " $5 " bytes  " $9}'
fi

# The trees the test command builds, unless the caller names others: where this kernel runs no
# 32-bit programs, the x86_64 build of the same sources stands in for the shipped 32-bit one.
tested=win32
"$root/scripts/runs-32-bit" || tested=win64
build=${SUBMCA_BUILD_DIR:-$root/build/$tested}
native=${SUBMCA_NATIVE_DIR:-$root/build/native}
demo="$root/build/demo"
$short && demo="$build/demo-short"
export WINEPREFIX="$demo/prefix"
step "Creating a fresh Wine prefix in $WINEPREFIX"
"$root/scripts/wine-prefix" create "$WINEPREFIX"
wine() { "$root/scripts/wine-run" "$@"; }
winpath() { wine winepath -w "$1" 2>/dev/null; }
logs="$demo/logs"
rm -rf "$logs" && mkdir -p "$logs"
drive="$WINEPREFIX/drive_c"
package=$(winpath "$build/packages/submca-demo.msi")
inspect="$native/submca-inspect"
# The module is 32-bit: on this 64-bit Windows it reads the 32-bit registry view and its package
# installs into the 32-bit program files folder. Every reg command names its view. The x86_64
# build reads the 64-bit view, and its stand-ins live in the 64-bit program files folder.
bits=32
case "$(x86_64-w64-mingw32-objdump -f "$build/submca.dll")" in *pei-x86-64*) bits=64 ;; esac
regview() { wine reg "$@" "/reg:$bits"; }
programs="$drive/Program Files (x86)"
runtime="$programs"
[ $bits = 64 ] && runtime="$drive/Program Files"

step "Placing the maker's other products, which this package expects to find"
# The stand-ins of the shared runtime (service host and trust verifier, recorded under
# InstalledApps), of the updater (registered) and of the service host's running engine, put in
# place as a package author puts them for a trial of an own package.
shared="$runtime/Common Files/Korvalin Shared"
engine="$programs/Korvalin/Submission Engine"
updater="$runtime/Korvalin/PatchRelay"
SUBMCA_BUILD_DIR="$build" sh "$root/scripts/standins.sh" "$WINEPREFIX" \
    'C:\Program Files (x86)\Korvalin\Submission Engine' >"$demo/standins.txt"
sed 's/^/   /' "$demo/standins.txt"
# That engine of an earlier installation holds two configurations from an earlier control file.
printf '[config 1]\n256=string:old-qsn.korvalin.example\n272=string:Submission\n[config 2]\n256=string:old-ping.korvalin.example\n272=string:Detection\n' \
    >"$engine/vexcore-configs.txt"
# "MsiLogging" 2 lets the module's detail lines into the installer log.
regview add 'HKLM\Software\Korvalin' /v MsiLogging /t REG_SZ /d 2 /f >/dev/null
wineserver -w
echo "   MsiLogging = 2 under HKLM\\Software\\Korvalin ($bits-bit view)"

registry_value() { # key value
    regview query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*[[:space:]]*//p'
}

report() {
    printf '   engine in the service host: '
    if grep -qi 'vexcore.dll' "$shared/srsvc-services.txt"; then echo "loaded"; else echo "not loaded"; fi
    printf '   engine configurations:\n'
    awk -F= '
        function flush() { if (name != "") printf "     %s: %s for %s %s -> %s:%s, probability %s, magic %s\n", name, type, product, version, server, port, probability, magic }
        /^\[/ { flush(); name = ""; type = product = version = server = port = probability = magic = "-" }
        /^\[config/ { name = substr($0, 2, length($0) - 2) }
        { value = $2; sub(/^[a-z]+:/, "", value) }
        /^256=/ { server = value } /^257=/ { port = value } /^264=/ { magic = value } /^265=/ { probability = value }
        /^272=/ { type = value } /^273=/ { product = value } /^274=/ { version = value }
        END { flush() }' "$engine/vexcore-configs.txt" 2>/dev/null || true
    defaults=$(sed -n '/^\[engine\]/,/^\[/p' "$engine/vexcore-configs.txt" 2>/dev/null | grep -E '^(262|384|385)=' | tr '\n' ' ')
    printf '   engine-wide defaults: %s\n' "${defaults:-(none)}"
    data=$(registry_value 'HKLM\Software\Korvalin\InstalledApps' ORBSubmissionEngineData)
    printf '   ORBSubmissionEngineData: %s\n' "${data:-(not set)}"
    scd="$programs/Korvalin/Submission Engine Data/SCD.xml"
    if [ -f "$scd" ]; then
        printf '   SCD.xml: %s\n' "$("$inspect" scd "$scd" 2>&1 >/dev/null | sed -n 's/^form: *//p')"
    else
        printf '   SCD.xml: not on disk\n'
    fi
    products=$(grep -o '^\[.*\]\|^ProductName=.*' "$updater/patchrelay-products.txt" 2>/dev/null |
        paste -d ' ' - - | sed 's/ProductName=//')
    if [ -n "$products" ]; then
        printf '   products registered with the updater:\n'
        printf '%s\n' "$products" | sed 's/^/     /'
    else
        printf '   products registered with the updater: none\n'
    fi
}

is_enciphered() {
    "$inspect" scd "$1" 2>&1 >/dev/null | grep -q '^form: *enciphered container'
}

# Wine hands back msiexec's result cut to 8 bits: a failed installation ends in 67 or 91.
fails_under_wine() {
    [ "$1" -eq 67 ] || [ "$1" -eq 91 ]
}

is_short_form() {
    case "$1" in *'~'*) return 0 ;; *) return 1 ;; esac
}

has_detail_lines() {
    krvl_lines "$1" | grep -q 'KRVL: Shutting down the submission service'
}

# Wine hands back msiexec's result cut to 8 bits.
exit_code_meaning() {
    case "$1" in
    67) echo "1603, ERROR_INSTALL_FAILURE: a step of the installation failed" ;;
    91) echo "1627, ERROR_FUNCTION_FAILED: Wine's msiexec answers this when a step of the installation failed" ;;
    *) echo "a Windows Installer error, cut to 8 bits" ;;
    esac
}

# The last "Action ended ...: INSTALL. Return value N." line: 1 success, 2 cancelled, 3 failed
# (Wine writes 0 where Windows writes 3).
installer_result() {
    value=$(tr -d '\r' <"$1" | sed -n 's/^Action ended .*: INSTALL\. Return value \([0-9]*\)\./\1/p' | tail -n 1)
    case "$value" in
    1) echo "INSTALL returned 1, success" ;;
    2) echo "INSTALL returned 2, cancelled" ;;
    0 | 3) echo "INSTALL returned $value, a step failed and the installer rolled back" ;;
    *) echo "no result in the log" ;;
    esac
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
    timeout 300 "$root/scripts/wine-run" msiexec "$@" /qn /l*v "$(winpath "$log")" || status=$?
    last_status=$status
    wineserver -w
    # Wine hands back msiexec's result cut to 8 bits (1603 arrives as 67).
    if [ "$status" -eq 0 ]; then
        echo "   msiexec: success"
    else
        echo "   msiexec: failed, exit code $status ($(exit_code_meaning "$status"))"
    fi
    echo "   the installer's own result: $(installer_result "$log")"
    lines=$(krvl_lines "$log")
    printf '   KRVL lines of the installer log:\n'
    if [ -n "$lines" ]; then printf '%s\n' "$lines"; else echo "     (none)"; fi
}

step "Before: what the machine holds"
cat <<'LEGEND'
   (An engine configuration reads: name: submission type for product version -> server:port,
    probability P, magic M. P is the control file's "probability"; M is the number the module
    draws for the configuration, from 0 to P - 2, or 0 when P is below 2. "-" marks a field the
    configuration does not hold: the earlier configurations below carry only a server and a type.
    The engine-wide defaults are keys 262 (startup delay), 384 (maximum submission age) and 385
    (maximum data store size).)
LEGEND
report

step "1. Install: the engine is stopped, its files and SCD.xml installed, its configurations replaced"
echo "   (UnloadSubmissionService stops the engine for the file replacement and does not start it again;"
echo "    UpdateQSN then finds it stopped, so the service host starts it on its own next start)"
run_msiexec install /i "$package"
report
expect "the installation succeeds" [ "$last_status" -eq 0 ]
expect "both products are registered" [ "$(grep -c '^ProductName=' "$updater/patchrelay-products.txt" 2>/dev/null)" = 2 ]
expect "the engine holds three new configurations" [ "$(grep -c '^272=' "$engine/vexcore-configs.txt")" = 3 ]
expect "SCD.xml is enciphered" is_enciphered "$programs/Korvalin/Submission Engine Data/SCD.xml"
cp "$programs/Korvalin/Submission Engine Data/SCD.xml" "$logs/SCD.xml"
# What the report shows must be right too: the value the module read and rewrote, and the
# detail lines that "MsiLogging" 2 lets into the log (both wrong when a view is mixed up).
expect "ORBSubmissionEngineData is rewritten in its short form" is_short_form \
    "$(registry_value 'HKLM\Software\Korvalin\InstalledApps' ORBSubmissionEngineData)"
expect "the module's detail lines reach the installer log" has_detail_lines "$logs/install.log"
expect "the installer's own result is read from the log" \
    [ "$(installer_result "$logs/install.log")" = "INSTALL returned 1, success" ]

if $short; then
    step "Uninstall"
    run_msiexec uninstall /x "$package"
    report
    expect "the removal succeeds" [ "$last_status" -eq 0 ]
    expect "no product is left registered" [ ! -s "$updater/patchrelay-products.txt" ]
    expect "the removal takes the engine away" [ ! -f "$engine/vexcore.dll" ]
    step "Install again, with a late step of the installation failing"
    run_msiexec failed-install /i "$package" DEMOFAILURE=1
    report
    expect "the installation fails (1603 as 67, or 1627 as 91)" fails_under_wine "$last_status"
    expect "the rollback removes SCD.xml" [ ! -f "$programs/Korvalin/Submission Engine Data/SCD.xml" ]
    expect "the rollback leaves no product registered" [ ! -s "$updater/patchrelay-products.txt" ]
    expect "the rollback leaves vexcore.dll behind, loaded in the process that ran UpdateQSN" \
        [ -f "$engine/vexcore.dll" ]
    wineserver -k 2>/dev/null || true
    "$root/scripts/wine-prefix" destroy "$WINEPREFIX"
    [ "$failures" -eq 0 ] && { echo "demo: every step did what it shows"; exit 0; }
    echo "demo: $failures check(s) failed; logs in $logs"
    exit 1
fi

step "2. Repair: the products are removed from the updater (the module registers on first installation only)"
run_msiexec repair /i "$package" REINSTALL=ALL REINSTALLMODE=omus
report

step "3. Uninstall"
run_msiexec uninstall /x "$package"
report

step "4. Install again, with a late step of the installation failing"
echo "   (The installer rolls back its files and registry values and RegisterPR's rollback call removes"
echo "    the products; nothing undoes UpdateQSN, so the engine keeps the new configurations.)"
run_msiexec failed-install /i "$package" DEMOFAILURE=1
report
if [ -f "$engine/vexcore.dll" ]; then
    echo "   vexcore.dll: left behind; the custom-action process that ran UpdateQSN still had the engine"
    echo "   loaded when the rollback came to delete it (see \"The reference package\" in README.md)"
fi

wineserver -k 2>/dev/null || true
step "5. What a support engineer reads with submca-inspect"
echo "   \$ submca-inspect scd SCD.xml -o SCD-plain.xml   (the enciphered control file the installation left)"
"$inspect" scd "$logs/SCD.xml" -o "$logs/SCD-plain.xml" 2>&1 | sed 's/^/     /' || true
echo "   \$ submca-inspect check SCD.xml"
"$inspect" check "$logs/SCD.xml" 2>&1 | sed 's/^/     /' || true
echo "   \$ submca-inspect log failed-install.log   (the verbose log of step 4)"
"$inspect" log "$logs/failed-install.log" 2>&1 | sed 's/^/     /' || true

step "Done. Full installer logs: $logs"
echo "   The stand-ins' journals: $(winpath "$shared") (srsvc-journal.txt), $(winpath "$engine") (vexcore-journal.txt)"
