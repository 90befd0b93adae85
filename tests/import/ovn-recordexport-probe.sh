#!/usr/bin/env bash
# ovn-recordexport imports what a Mac OS Roman record export lists, names each record it could not
# import (exit status 1 when one failed), and refuses a file that is no export with the reason and
# exit status 1.
# Argument: the ovn-recordexport program.
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" OVN_VOLUME_ROOTS="$dir/none:$dir/vols"
mkdir -p "$dir/vols/Card/Jobs/A"
{ printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' '\150'; } > "$dir/vols/Card/Jobs/A/one.ppm"
# "Schlagw\x9arter" is "Schlagwörter" in Mac OS Roman.
printf 'v5.0 Canto(r) Cumulus(r) Record Export\r\n\r\nVolume-Name\tOrdnername\tAsset-Name\tSchlagw\x9arter\r\n%%Data\r\n' > "$dir/export.txt"
printf 'Card\tJobs:A:\tone.ppm\tsea\tTravel\r\nCard\tJobs\r\nCard\t..\tx.ppm\t\r\n' >> "$dir/export.txt"
# Two records fail: the status says so.
status=0
out=$("$tool" "$dir/cat.sqlite" Export "$dir/export.txt") || status=$?
[ "$status" = 1 ] || { echo "status $status with failed records"; exit 1; }
expected="imported 1
failed 2
failed: line 6: the record has 2 fields, the header 4
failed: Card/../x.ppm: unsafe path"
[ "$out" = "$expected" ] || { echo "unexpected output: $out"; exit 1; }
keywords=$(sqlite3 "$dir/cat.sqlite" "select shortdesc from strvfile")
[ "$keywords" = "Travel" ] || [[ "$keywords" == *Travel ]] || { echo "categories not stored: $keywords"; exit 1; }

printf 'v5.0 Canto(r) Cumulus(r) Record Exporx\r' > "$dir/wrong.txt"
status=0
"$tool" "$dir/cat.sqlite" Export "$dir/wrong.txt" >/dev/null 2>"$dir/err" || status=$?
[ "$status" = 1 ] && grep -qxF "ovn-recordexport: $dir/wrong.txt: Format not recognized" "$dir/err" || { echo "wrong first line not refused: $status $(cat "$dir/err")"; exit 1; }
echo ok
