#!/bin/sh
# fix_action_types_test.sh ROOT BUILD
#
# scripts/fix-action-types.sh on packages as wixl leaves them: each row changes the CustomAction
# table of a freshly built package, runs the script and expects its exit status and the types
# the package then holds (read back with msiinfo, not from the script's own output).
set -u
root=$1
build=$2
work="$build/tests/scripts/fix-action-types"
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
# wixl only checks that the DLL exists; the table is all the script looks at.
printf 'MZ' >submca.dll
cat >package.wxs <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="fix-action-types test" Language="1033" Version="1.0.0" Manufacturer="Korvalin"
           UpgradeCode="8D0C6E3A-2B4F-4C71-9E5A-1F3B5D7C9E21">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Component Id="vex_refresh.exe.6C1E93A7_B54F_4E28_9D3A_F07B2C61D48E" Guid="0B2D4F61-8A3C-4E57-9B1D-3F5A7C9E1B24">
        <RegistryValue Root="HKLM" Key="Software\SubmcaTest\fixtypes" Name="Updater" Type="integer" Value="1" KeyPath="yes"/>
      </Component>
    </Directory>
    <Feature Id="Main" Level="1">
      <ComponentRef Id="vex_refresh.exe.6C1E93A7_B54F_4E28_9D3A_F07B2C61D48E"/>
    </Feature>
    <Binary Id="SubmcaDll" SourceFile="submca.dll"/>
    <CustomAction Id="UpdateQSN" BinaryKey="SubmcaDll" DllEntry="UpdateQSN" Execute="deferred" Impersonate="no"/>
    <CustomAction Id="RegisterPR" BinaryKey="SubmcaDll" DllEntry="RegisterPR" Execute="immediate"/>
    <CustomAction Id="RegisterPR_Rollback" BinaryKey="SubmcaDll" DllEntry="RegisterPR" Execute="rollback"/>
    <CustomAction Id="RegisterPR_Deferred" BinaryKey="SubmcaDll" DllEntry="RegisterPR" Execute="deferred"/>
    <CustomAction Id="RegisterPR_Commit" BinaryKey="SubmcaDll" DllEntry="RegisterPR" Execute="commit"/>
    <InstallExecuteSequence>
      <Custom Action="UpdateQSN" Sequence="5020">NOT REMOVE</Custom>
      <Custom Action="RegisterPR" Sequence="5100"/>
      <Custom Action="RegisterPR_Rollback" Sequence="5101"/>
      <Custom Action="RegisterPR_Deferred" Sequence="5102"/>
      <Custom Action="RegisterPR_Commit" Sequence="5103"/>
    </InstallExecuteSequence>
  </Product>
</Wix>
EOF
wixl -o base.msi package.wxs || { echo "FAILED: wixl cannot build the test package"; exit 1; }

# A merge module's suffix, as merging appends it to every identifier of the module.
suffix=.0A1B2C3D_4E5F_6071_8293_A4B5C6D7E8F9
rename() { # action new-name
    printf "DELETE FROM CustomAction WHERE Action='%s'\n" "$1"
    printf "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('%s', 2049, 'SubmcaDll', 'RegisterPR')\n" "$2"
}
failures=0
row() { # description, expected status, expected "Action=Type ..." after the run, msibuild queries...
    what=$1 status=$2 types=$3
    shift 3
    cp base.msi row.msi
    for query; do msibuild row.msi -q "$query"; done
    actual=0
    sh "$root/scripts/fix-action-types.sh" row.msi >row.out 2>&1 || actual=$?
    held=$(msiinfo export row.msi CustomAction | tr -d '\r' | tail -n +4 | cut -f1-2 | tr '\t' = | sort | tr '\n' ' ')
    if [ "$actual" = "$status" ] && [ "$held" = "$types " ]; then
        echo "ok: $what"
    else
        echo "FAILED: $what: status $actual (expected $status), types $held(expected $types)"
        cat row.out
        failures=$((failures + 1))
    fi
}

row "wixl's types become 1, 1281, 1025 and 1537" 0 \
    "RegisterPR=1 RegisterPR_Commit=1537 RegisterPR_Deferred=1025 RegisterPR_Rollback=1281 UpdateQSN=3073"
row "a merge module's suffixed names are recognised" 0 \
    "RegisterPR$suffix=1 RegisterPR_Commit$suffix=1537 RegisterPR_Deferred$suffix=1025 RegisterPR_Rollback$suffix=1281 UpdateQSN=3073" \
    "$(rename RegisterPR "RegisterPR$suffix" | head -n 1)" "$(rename RegisterPR "RegisterPR$suffix" | tail -n 1)" \
    "$(rename RegisterPR_Rollback "RegisterPR_Rollback$suffix" | head -n 1)" "$(rename RegisterPR_Rollback "RegisterPR_Rollback$suffix" | tail -n 1)" \
    "$(rename RegisterPR_Deferred "RegisterPR_Deferred$suffix" | head -n 1)" "$(rename RegisterPR_Deferred "RegisterPR_Deferred$suffix" | tail -n 1)" \
    "$(rename RegisterPR_Commit "RegisterPR_Commit$suffix" | head -n 1)" "$(rename RegisterPR_Commit "RegisterPR_Commit$suffix" | tail -n 1)"
row "a package without the commit call is refused, the other calls still fixed" 1 \
    "RegisterPR=1 RegisterPR_Deferred=1025 RegisterPR_Rollback=1281 UpdateQSN=3073" \
    "DELETE FROM CustomAction WHERE Action='RegisterPR_Commit'"
row "an UpdateQSN that is not deferred without impersonation is refused and left to its author" 1 \
    "RegisterPR=1 RegisterPR_Commit=1537 RegisterPR_Deferred=1025 RegisterPR_Rollback=1281 UpdateQSN=1" \
    "UPDATE CustomAction SET Type=1 WHERE Action='UpdateQSN'"
row "a fifth action on RegisterPR's entry is refused before anything is changed" 1 \
    "RegisterPR=2049 RegisterPR_Again=2049 RegisterPR_Commit=2049 RegisterPR_Deferred=3073 RegisterPR_Rollback=2049 UpdateQSN=3073" \
    "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('RegisterPR_Again', 2049, 'SubmcaDll', 'RegisterPR')"
[ "$failures" -eq 0 ] || { echo "$failures row(s) failed"; exit 1; }
