#!/bin/sh
# readme_package_test.sh ROOT BUILD NATIVE [--install]
#
# A package author's first hour, from the README alone: the package source, the annotated
# control file and the build commands of its "Authoring" section, taken from README.md as they
# stand, must build a package whose tables hold what the README says, with a control file the
# module accepts. With --install that package, with scripts/standins.sh, must install, repair
# and remove in a fresh Wine prefix with the outcomes the README describes.
set -u
root=$1
build=$2
native=$3
install=${4:-}
work="$build/tests/scripts/readme-package${install}"
failures=0
check() { # description, command...
    what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# The Authoring section, and in it the first fenced block of a language that contains a text.
section() { awk '/^### Authoring: the actions in a package/ { on = 1; next } on && /^##/ { exit } on' "$root/README.md"; }
block() { # language text
    section | awk -v open="\`\`\`$1" -v text="$2" '
        $0 == open { inside = 1; body = ""; next }
        inside && $0 == "```" { inside = 0; if (index(body, text)) { printf "%s", body; exit } next }
        inside { body = body $0 "\n" }'
}

rm -rf "$work"
mkdir -p "$work/package" "$work/release" "$work/logs"
block xml '<Product ' >"$work/package/product.wxs"
block xml '<scd>' >"$work/package/SCD.xml"
block sh 'wixl ' >"$work/build-commands.sh"
[ -s "$work/package/product.wxs" ] && [ -s "$work/package/SCD.xml" ] && [ -s "$work/build-commands.sh" ] ||
    { echo "FAILED: the README's Authoring section lacks the package source, the control file or the wixl command"; exit 1; }
check "the README's annotated control file is one the module accepts" \
    sh -c "'$native/submca-inspect' check '$work/package/SCD.xml' >'$work/check.txt' 2>&1"
# What the README tells the author to have: the release folder and, beside product.wxs, the
# engine (for a trial, the engine stand-in).
cp "$build/submca.dll" "$root/scripts/fix-action-types.sh" "$work/release/"
cp "$build/standins/vexcore/vexcore.dll" "$work/package/"
sed -i "s|^release=.*|release='$work/release'|" "$work/build-commands.sh"
echo "== the README's build commands"
cat "$work/build-commands.sh"
(cd "$work/package" && sh -e "$work/build-commands.sh") || { echo "FAILED: the README's build commands"; exit 1; }
msi="$work/package/product.msi"

# A table of the package as "column<TAB>column..." rows, without msiinfo's three header lines.
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
tab=$(printf '\t')
actions=$(table CustomAction | cut -f1-4 | sort)
expected_actions=$(sort <<EOF
RegisterPR${tab}1${tab}SubmcaDll${tab}RegisterPR
RegisterPR_Commit${tab}1537${tab}SubmcaDll${tab}RegisterPR
RegisterPR_Deferred${tab}1025${tab}SubmcaDll${tab}RegisterPR
RegisterPR_Rollback${tab}1281${tab}SubmcaDll${tab}RegisterPR
UnloadSubmissionService${tab}3073${tab}SubmcaDll${tab}UnloadSubmissionService
UpdateQSN${tab}3073${tab}SubmcaDll${tab}UpdateQSN
WriteInstalledAppsKey${tab}3073${tab}SubmcaDll${tab}WriteInstalledAppsKey
EOF
)
check "the CustomAction table holds the four actions with the types the README gives" [ "$actions" = "$expected_actions" ]
[ "$actions" = "$expected_actions" ] || printf 'the package holds:\n%s\n' "$actions"

# The places the README gives, against the installer's own standard actions in the same table.
sequence() { table InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a { found = $3 } END { print found == "" ? "missing" : found }'; }
condition() { table InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a { print $2 }'; }
runs_in_order() { # actions, first to last
    previous=
    for action; do
        current=$(sequence "$action")
        if [ -n "$previous" ] && ! [ "$previous" -lt "$current" ] 2>/dev/null; then return 1; fi
        previous=$current
    done
}
check "UnloadSubmissionService runs before RemoveFiles and InstallFiles" \
    runs_in_order UnloadSubmissionService RemoveFiles InstallFiles
check "WriteInstalledAppsKey runs after WriteRegistryValues, UpdateQSN after it" \
    runs_in_order WriteRegistryValues WriteInstalledAppsKey UpdateQSN
check "both run on NOT REMOVE only" \
    [ "$(condition WriteInstalledAppsKey)|$(condition UpdateQSN)" = "NOT REMOVE|NOT REMOVE" ]
check "RegisterPR's four calls lie between InstallInitialize and InstallFinalize, the rollback before the deferred" \
    runs_in_order InstallInitialize RegisterPR RegisterPR_Rollback RegisterPR_Deferred RegisterPR_Commit InstallFinalize
# Registry rows: Registry, Root (2 = HKLM), Key, Name, Value, Component.
values=$(table Registry | awk -F'\t' '$2 == 2 && $3 == "Software\\Korvalin\\InstalledApps" { print $4 "=" $5 " (" $6 ")" }' | sort)
check "the InstalledApps values name the engine's and the data's folders, each from its component" \
    [ "$values" = "$(printf 'ORBSubmissionEngine=[ENGINEFOLDER] (Engine)\nORBSubmissionEngineData=[ENGINEDATAFOLDER] (EngineData)')" ]
# Component rows: Component, ComponentId, Directory, Attributes (256: 64-bit), Condition, KeyPath.
check "every component is 32-bit, so the values land in the view the module reads" \
    [ -z "$(table Component | awk -F'\t' '$4 >= 256 && int($4 / 256) % 2 == 1')" ]
check "the package holds the component RegisterPR's condition names" \
    [ "$(table Component | cut -f1 | grep -cx 'vex_refresh.exe.6C1E93A7_B54F_4E28_9D3A_F07B2C61D48E')" = 1 ]

if [ "$install" != --install ]; then
    [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
    echo "the README's package builds with the README's commands and holds what the README says"
    exit 0
fi

echo "== installing, repairing and removing it with the stand-ins"
export WINEPREFIX="$work/prefix"
engine='C:\Program Files (x86)\Korvalin\Submission Engine'
SUBMCA_BUILD_DIR="$build" sh "$root/scripts/standins.sh" "$WINEPREFIX" "$engine" ||
    { echo "FAILED: scripts/standins.sh"; exit 1; }
drive="$WINEPREFIX/drive_c/Program Files (x86)"
shared="$drive/Common Files/Korvalin Shared"
updater="$drive/Korvalin/PatchRelay"
engine_dir="$drive/Korvalin/Submission Engine"
# Wine shows the machine's root as drive Z:.
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
package=$(windows_path "$msi")
msiexec() { # log-name arguments...
    log=$1
    shift
    status=0
    timeout 300 "$root/scripts/wine-run" msiexec "$@" /qn /l*v "$(windows_path "$work/logs/$log.log")" ||
        status=$?
    wineserver -w
    echo "msiexec $* -> $status"
}
verdict() { "$native/submca-inspect" log "$work/logs/$1.log" | tail -n 1; }
products() { grep -c '^ProductName=' "$updater/patchrelay-products.txt" 2>/dev/null; }

msiexec install /i "$package"
check "the installation succeeds" [ "$status" = 0 ]
check "submca-inspect finds nothing wrong in its log" [ "$(verdict install)" = "verdict: nothing wrong found" ]
check "both products are registered with the updater" [ "$(products)" = 2 ]
check "the engine holds the one configuration of the README's control file" \
    [ "$(grep -c '^\[config' "$engine_dir/vexcore-configs.txt")" = 1 ]
check "the service host no longer runs the engine" [ -z "$(grep -i 'vexcore.dll' "$shared/srsvc-services.txt")" ]

msiexec repair-fa /fa "$package"
check "under Wine msiexec /fa fails with 1605, cut to 69" [ "$status" = 69 ]
msiexec repair /i "$package" REINSTALL=ALL REINSTALLMODE=omus
check "the repair with REINSTALL=ALL REINSTALLMODE=omus succeeds" [ "$status" = 0 ]
check "the repair leaves both products unregistered" [ "$(products)" = 0 ]

msiexec remove /x "$package"
check "the removal succeeds" [ "$status" = 0 ]
check "the removal takes the engine away" [ ! -f "$engine_dir/vexcore.dll" ]
check "the stand-ins' journals stay behind" test -s "$engine_dir/vexcore-journal.txt" -a -s "$updater/patchrelay-journal.txt"

wineserver -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed; logs in $work/logs"; exit 1; }
echo "the README's package builds, installs, repairs and is removed as the README says"
