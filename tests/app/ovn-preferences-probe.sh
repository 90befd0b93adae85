#!/bin/bash
# ovn-preferences in a fresh home folder: Connect to the integrated catalog makes it and saves;
# a server without user or database is refused and nothing is saved; a file type typed with a dot
# and capitals is stored as look-ups need it; new settings mount SMB, and AFP cannot be mounted here.
set -u
probe=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=offscreen
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
fail() { echo "FAIL: $*"; exit 1; }

out=$("$probe" --vendor 0 --connect 2>/dev/null) || fail "connect: $out"
[[ $out == *"Media Database connection changed"* && $out == *$'\nsaved' ]] || fail "connect: $out"
[[ -s $home/Documents/Ostrevan/MediaDB.sqlite ]] || fail "no catalog file"
grep -q '<string>Integrated</string>' "$XDG_CONFIG_HOME/ostrevan/preferences.plist" || fail "vendor not saved"

out=$("$probe" --vendor 2 --host db.example.org --user "" --database "" --connect 2>/dev/null) && fail "refused connect succeeded"
[[ $out == *"Please enter a user and a database"* && $out == *"not saved" ]] || fail "refused connect: $out"

out=$("$probe" --add-file-type .XYZ,RAW,NSIInternal,Image 2>/dev/null) || fail "add: $out"
[[ $out == saved ]] || fail "add: $out"
grep -q '<string>xyz</string>' "$XDG_CONFIG_HOME/ostrevan/preferences.plist" || fail "extension not stored as xyz"

# New settings name an SMB share, which needs a server; AFP, chosen, cannot be mounted here.
out=$("$probe" --mount 2>/dev/null) && fail "mount without a server succeeded"
[[ $out == *"Media Server Access settings"* ]] || fail "mount: $out"
grep -q '<string>SMB</string>' "$XDG_CONFIG_HOME/ostrevan/preferences.plist" || fail "SMB not saved"
out=$("$probe" --protocol AFP --mount 2>/dev/null) && fail "AFP mount succeeded"
[[ $out == *"cannot be mounted on this system"* ]] || fail "mount: $out"
# Settings given for one run on the command line are neither shown nor stored, whether the window
# is closed or its settings are connected to (the local catalog stored above).
prefs=$XDG_CONFIG_HOME/ostrevan/preferences.plist
for end in --close "--connect --close"; do
    # shellcheck disable=SC2086 # the words of $end are options
    out=$("$probe" --given DBVendor=PostgreSQL --given DBHost=given.example.org --given DBUser=given $end 2>/dev/null) \
        || fail "$end with settings given: $out"
    grep -q 'given' "$prefs" && fail "$end stored a setting given for one run"
    grep -A1 '<key>DBVendor</key>' "$prefs" | grep -q '<string>Integrated</string>' || fail "$end: vendor not kept"
done
echo "ok"
