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

# A file that was not imported makes the exit status 1 and is named on standard error.
status=0
out=$("$tool" "$dir/cat.sqlite" "Card dump" "$dir/card" 2>"$dir/err") || status=$?
[ "$status" = 1 ] || { echo "exit status $status with a file not imported"; exit 1; }
grep -q "^4 files$" <<<"$out" || { echo "no file count: $out"; exit 1; }
grep -q "readme.zzq: unsupported file type" <<<"$out" || { echo "unsupported file not listed: $out"; exit 1; }
grep -q "^imported 3 of 4 files" <<<"$out" || { echo "wrong summary: $out"; exit 1; }
grep -q "^  $dir/card/readme.zzq$" "$dir/err" || { echo "not-imported file not named: $(cat "$dir/err")"; exit 1; }
category=$(sed -n 's/^category //p' <<<"$out")

# A file named that is not there counts among the files of the summary.
status=0
missing=$("$tool" --quiet "$dir/cat.sqlite" "Card dump" "$dir/card/img9.ppm" 2>/dev/null) || status=$?
[ "$status" = 1 ] || { echo "exit status $status for a missing file"; exit 1; }
grep -q "^imported 0 of 1 file in" <<<"$missing" || { echo "a missing file not counted: $missing"; exit 1; }

again=$("$tool" --quiet "$dir/cat.sqlite" "Card dump" "$dir/card/img1.ppm")
grep -qF "category $category" <<<"$again" || { echo "the second run made another collection: $again"; exit 1; }
count=$(sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile where categoryid='$category' and length(thumbimage) > 0")
[ "$count" = 4 ] || { echo "expected 4 rows with thumbnails, got $count"; exit 1; }
names=$(sqlite3 "$dir/cat.sqlite" "select displaytag from strvfile order by mid" | tr '\n' ' ')
[ "$names" = "img1.ppm img2.ppm img3.ppm img1.ppm " ] || { echo "rows out of order: $names"; exit 1; }

# A server catalog takes its password from PGPASSWORD; one in the URL works, with a warning.
if [ -n "${OVN_TEST_PG_PORT:-}" ]; then
    server="$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
    PGPASSWORD="$OVN_TEST_PG_PASSWORD" "$tool" --quiet "postgresql://$server" "Probe $$" "$dir/card/img1.ppm" \
        >/dev/null 2>"$dir/err" || { echo "PGPASSWORD not used: $(cat "$dir/err")"; exit 1; }
    ! grep -q warning "$dir/err" || { echo "warned without a password in the URL"; exit 1; }
    "$tool" --quiet "postgresql://$OVN_TEST_PG_USER:$OVN_TEST_PG_PASSWORD@${server#*@}" "Probe $$" \
        "$dir/card/img2.ppm" >/dev/null 2>"$dir/err" || { echo "URL password refused: $(cat "$dir/err")"; exit 1; }
    grep -q "warning: a password in the catalog URL" "$dir/err" || { echo "no warning: $(cat "$dir/err")"; exit 1; }
fi

# --smart files a card into numbered collections under a folder made by name; --rescan reads a
# category's files again.
rm "$dir/card/readme.zzq"
smart=$("$tool" --smart --max 2 --quiet "$dir/cat.sqlite" Shoots "$dir/card")
[ "$(sed -n 's/^collection \([^ ]*\) .* \([0-9]*\)$/\1 \2/p' <<<"$smart" | tr '\n' ' ')" = "card 2 card-1 1 " ] \
    || { echo "wrong smart collections: $smart"; exit 1; }
grep -q "^imported 3 of 3 files" <<<"$smart" || { echo "wrong smart summary: $smart"; exit 1; }
# A name that is not valid UTF-8 is named, and the exit status tells that a file was not imported.
mkdir "$dir/latin"
cp "$dir/card/img1.ppm" "$dir/latin/ok.ppm"
cp "$dir/card/img2.ppm" "$dir/latin/f$(printf '\xea')te.ppm"
status=0
latin=$("$tool" --smart "$dir/cat.sqlite" Latin "$dir/latin" 2>/dev/null) || status=$?
[ "$status" = 1 ] || { echo "smart import: exit status $status with a name that is not UTF-8"; exit 1; }
grep -q "the name is not valid UTF-8" <<<"$latin" || { echo "smart import did not name the file: $latin"; exit 1; }
rm "$dir/card/img3.ppm"
rescan=$("$tool" --rescan --quiet "$dir/cat.sqlite" "$category") || true
grep -q "^rescanned 3 of 4$" <<<"$rescan" || { echo "wrong rescan: $rescan"; exit 1; }

if "$tool" "$dir/missing/dir/cat.sqlite" X "$dir/card" >/dev/null 2>&1; then
    echo "an unopenable catalog was not reported"; exit 1
fi
echo ok
