#!/bin/sh
# fix-action-types.sh PACKAGE.msi
#
# Sets the custom-action types of RegisterPR's four calls in a package built with wixl, which
# cannot write them: it marks every DLL action "no impersonation" (the immediate call becomes
# 2049 instead of 1) and writes the rollback and commit calls as plain deferred ones. The calls
# are found by their DLL entry RegisterPR and told apart by their names, RegisterPR,
# RegisterPR_Rollback, RegisterPR_Deferred and RegisterPR_Commit, also with the ".<module id>"
# that a merge module appends to them:
#
#   RegisterPR           1     immediate
#   RegisterPR_Rollback  1281  rollback, impersonated
#   RegisterPR_Deferred  1025  deferred, impersonated
#   RegisterPR_Commit    1537  commit, impersonated
#
# The other three actions must be 3073 (deferred, no impersonation), which wixl writes itself;
# they are checked, not changed. The script then reads the table back and fails, naming each
# row, when a type differs or one of the four calls is missing.
set -eu
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: fix-action-types.sh PACKAGE.msi" >&2
    exit 2
fi
package=$1
for tool in msibuild msiinfo; do
    command -v "$tool" >/dev/null || { echo "fix-action-types.sh: $tool (msitools) is missing" >&2; exit 1; }
done

# The CustomAction table as "Action<TAB>Type<TAB>Source<TAB>Target" rows (msiinfo's export has
# three header lines: column names, column types, table name and key).
rows() { msiinfo export "$package" CustomAction | tr -d '\r' | tail -n +4; }

# The type a row must have, by its DLL entry and its name without a merge module's suffix.
wanted_type() { # action target
    name=$1
    case "$name" in *.*) name=${name%%.*} ;; esac
    case "$2" in
    RegisterPR)
        case "$name" in
        RegisterPR) echo 1 ;;
        RegisterPR_Rollback) echo 1281 ;;
        RegisterPR_Deferred) echo 1025 ;;
        RegisterPR_Commit) echo 1537 ;;
        *) echo unknown ;;
        esac
        ;;
    UnloadSubmissionService | UpdateQSN | WriteInstalledAppsKey) echo 3073 ;;
    *) echo - ;;
    esac
}

tab=$(printf '\t')
table=$(rows) || { echo "fix-action-types.sh: cannot read the CustomAction table of $package" >&2; exit 1; }
# Every call is named before anything is changed: a package with an unknown one stays as it was.
updates=
while IFS="$tab" read -r action type source target rest; do
    [ "$target" = RegisterPR ] || continue
    wanted=$(wanted_type "$action" "$target")
    if [ "$wanted" = unknown ]; then
        echo "fix-action-types.sh: $action calls RegisterPR but is none of RegisterPR, RegisterPR_Rollback, RegisterPR_Deferred, RegisterPR_Commit; nothing changed" >&2
        exit 1
    fi
    [ "$type" = "$wanted" ] || updates="$updates$action$tab$wanted
"
done <<EOF
$table
EOF
printf '%s' "$updates" | while IFS="$tab" read -r action wanted; do
    msibuild "$package" -q "UPDATE CustomAction SET Type=$wanted WHERE Action='$action'"
done

# Read back what the package now holds.
failures=0
seen=
table=$(rows)
while IFS="$tab" read -r action type source target rest; do
    wanted=$(wanted_type "$action" "$target")
    [ "$wanted" = - ] && continue
    case "$target" in RegisterPR) seen="$seen ${action%%.*}" ;; esac
    if [ "$type" = "$wanted" ]; then
        echo "$action $type"
    else
        echo "fix-action-types.sh: $action has type $type, not $wanted" >&2
        failures=$((failures + 1))
    fi
done <<EOF
$table
EOF
for call in RegisterPR RegisterPR_Rollback RegisterPR_Deferred RegisterPR_Commit; do
    case " $seen " in
    *" $call "*) ;;
    *)
        echo "fix-action-types.sh: the package has no $call action with the DLL entry RegisterPR" >&2
        failures=$((failures + 1))
        ;;
    esac
done
if [ "$failures" -ne 0 ]; then
    echo "fix-action-types.sh: $package is not fit to install: $failures custom-action type(s) wrong" >&2
    exit 1
fi
