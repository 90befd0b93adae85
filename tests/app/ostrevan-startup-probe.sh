#!/usr/bin/env bash
# Starts the program once on a fresh home folder with the local catalog and the quit-after-start-up
# switch, then checks the catalog file's tables and the first-run preferences.
set -euo pipefail
program=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME=$home XDG_CONFIG_HOME=$home/.config timeout 300 "$program" -DBVendor Integrated -OVNQuitAfterStartup YES

catalog=$home/Documents/Ostrevan/MediaDB.sqlite
[ -f "$catalog" ] || { echo "no catalog file at $catalog" >&2; exit 1; }
tables=$(sqlite3 "$catalog" "select name from sqlite_master where type='table' order by name" | tr '\n' ' ')
for table in strvcategory strvfile strvset; do
    case " $tables" in *" $table "*) ;; *) echo "table $table missing (have: $tables)" >&2; exit 1 ;; esac
done

prefs=$home/.config/ostrevan/preferences.plist
[ -f "$prefs" ] || { echo "no preferences file" >&2; exit 1; }
grep -A1 '<key>FirstRun</key>' "$prefs" | grep -q '<string>NO</string>' || { echo "FirstRun not NO" >&2; exit 1; }
grep -A1 '<key>WorkflowPanelVisible</key>' "$prefs" | grep -q '<string>1</string>' || { echo "WorkflowPanelVisible not 1" >&2; exit 1; }
grep -A1 '<key>DBVendor</key>' "$prefs" | grep -q '<string>Integrated</string>' || { echo "DBVendor not stored" >&2; exit 1; }
# The switch lives on the command line only.
if grep -q OVNQuitAfterStartup "$prefs"; then echo "the quit switch was stored" >&2; exit 1; fi

# A later start that ends once its catalog window is painted (the start-up benchmark's switch)
# ends by itself, with success.
HOME=$home XDG_CONFIG_HOME=$home/.config timeout 300 "$program" -DBVendor Integrated -OVNQuitAfterFirstPaint YES \
    || { echo "the start that ends after the first paint did not end well ($?)" >&2; exit 1; }
echo "catalog and preferences as expected"
