#!/usr/bin/env bash
# ovn-import makes its catalog file, imports a folder into a named collection in list order,
# lists what it could not catalogue, and a second run adds to the same collection.
# Argument: the ovn-import program.
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/card"
for n in 1 2 3; do
    { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/card/img$n.ppm"
done
printf 'not a picture' > "$dir/card/readme.zzq"
export XDG_CONFIG_HOME="$dir/config"

out=$("$tool" "$dir/cat.sqlite" "Card dump" "$dir/card")
grep -q "^4 files$" <<<"$out" || { echo "no file count: $out"; exit 1; }
grep -q "readme.zzq: unsupported file type" <<<"$out" || { echo "unsupported file not listed: $out"; exit 1; }
grep -q "^imported 3 of 4 files" <<<"$out" || { echo "wrong summary: $out"; exit 1; }
category=$(sed -n 's/^category //p' <<<"$out")

again=$("$tool" --quiet "$dir/cat.sqlite" "Card dump" "$dir/card/img1.ppm")
grep -qF "category $category" <<<"$again" || { echo "the second run made another collection: $again"; exit 1; }
count=$(sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile where categoryid='$category' and length(thumbimage) > 0")
[ "$count" = 4 ] || { echo "expected 4 rows with thumbnails, got $count"; exit 1; }
names=$(sqlite3 "$dir/cat.sqlite" "select displaytag from strvfile order by mid" | tr '\n' ' ')
[ "$names" = "img1.ppm img2.ppm img3.ppm img1.ppm " ] || { echo "rows out of order: $names"; exit 1; }

if "$tool" "$dir/missing/dir/cat.sqlite" X "$dir/card" >/dev/null 2>&1; then
    echo "an unopenable catalog was not reported"; exit 1
fi
echo ok
