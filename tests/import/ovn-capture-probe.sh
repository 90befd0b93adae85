#!/usr/bin/env bash
# ovn-capture lists a directory-browse camera and downloads from it with the first built-in preset,
# renaming, backing up and cataloguing, and prints one line per file and a summary.
# Argument: the ovn-capture program.
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/cam/DCIM/100" "$dir/dest" "$dir/volumes"
for n in 1 2 3; do
    { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/cam/DCIM/100/img$n.ppm"
done
export OVN_CAPTURE_DISK="$dir/cam" OVN_VOLUME_ROOTS="$dir/volumes" XDG_CONFIG_HOME="$dir/config" HOME="$dir"

list=$("$tool" --list)
grep -qP "^device disk:$dir/cam\tcam\t3 files$" <<<"$list" || { echo "wrong list: $list"; exit 1; }

out=$("$tool" --device "disk:$dir/cam" --catalog "$dir/cat.sqlite" --set "svDestination1_=$dir/dest" \
      --set svDestination1AddTSFolder_=0 --set "svDestination2_=$dir/backup" --set svDestination2AddTSFolder_=1 \
      --set svNamingSwitch_=1 --set svNamingPrefix_=A --set svNamingCaptureName_=Trip --set svNamingSuffix_=- \
      --set svNamingCounterDigits_=4 --set svNamingPostfix_=z --cancel-after 1)
grep -qx "file 0 img1.ppm -> $dir/dest/ATrip-0000z.ppm" <<<"$out" || { echo "wrong first file: $out"; exit 1; }
grep -qx "file 1 img2.ppm -> $dir/dest/ATrip-0001z.ppm" <<<"$out" || { echo "wrong second file: $out"; exit 1; }
grep -q "^backup $dir/backup/" <<<"$out" || { echo "no backup folder: $out"; exit 1; }
grep -q "^collection cam - " <<<"$out" || { echo "no collection: $out"; exit 1; }
# Cancelled after file 1: two downloaded, the one in flight not catalogued.
grep -qx "processed 2 downloaded 2 errors 0 catalogued 1" <<<"$out" || { echo "wrong summary: $out"; exit 1; }
[ "$(ls "$dir/backup"/*/ | wc -l)" = 2 ] || { echo "backup holds $(ls "$dir/backup"/*/)"; exit 1; }
count=$(sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile")
[ "$count" = 1 ] || { echo "expected 1 catalogued row, got $count"; exit 1; }

# A server catalog is opened as every tool opens one, also where a folder bears the address's name.
if [ -n "${OVN_TEST_PG_PORT:-}" ]; then
    url="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
    mkdir -p "$dir/work/$url" "$dir/dest2"
    out=$(cd "$dir/work" && PGPASSWORD="$OVN_TEST_PG_PASSWORD" "$tool" --device "disk:$dir/cam" --catalog "$url" \
          --set "svDestination1_=$dir/dest2" --set svDestination1AddTSFolder_=0 --set svDestination2_= \
          --set svNamingSwitch_=1 --set svNamingPrefix_=S --set svNamingCaptureName_=Srv$$ --set svNamingSuffix_=- \
          --set svNamingCounterDigits_=2 --set svNamingPostfix_=) || { echo "server capture failed: $out"; exit 1; }
    grep -qx "processed 3 downloaded 3 errors 0 catalogued 3" <<<"$out" || { echo "wrong server summary: $out"; exit 1; }
    [ -z "$(find "$dir/work" -type f)" ] || { echo "made a local catalog: $(find "$dir/work" -type f)"; exit 1; }
    stored=$(PGPASSWORD="$OVN_TEST_PG_PASSWORD" psql "$url" -qAt \
             -c "select count(*) from strvfile where displaytag like 'SSrv$$-%'")
    [ "$stored" = 3 ] || { echo "the server holds $stored of the 3 captured files"; exit 1; }
fi
echo ok
