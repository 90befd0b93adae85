#!/usr/bin/env bash
# bench/categories-bench.sh [BUILD-DIR]: two whole-process comparisons through bench_pair:
#   1. deleting a folder of 50,000 entries in nested collections (ovn-catalog-window
#      --delete-category) against the sqlite3 program running the same DELETEs in one transaction;
#   2. re-scanning an unchanged surveillance folder of 20,000 files (--rescan) against
#      `find DIR -type f -printf '%T@ %p\n'` over the same folder.
# Each run of the first starts from a fresh copy of the catalog, on both sides.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
pair=$build/bench/bench_pair window=$build/tools/ovn-catalog-window import=$build/tools/ovn-import
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir "$dir/seed"
{ printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' '\144'; } > "$dir/seed/seed.ppm"
"$import" --quiet "$dir/base.sqlite" Seed "$dir/seed" >/dev/null

# Every column of the seed entry but mid, categoryid and absolutepath, copied into new rows.
cols=$(sqlite3 "$dir/base.sqlite" "select group_concat(name, ', ') from pragma_table_info('strvfile')
                                    where name not in ('mid', 'categoryid', 'absolutepath', 'dts')")
copy() { # category, count, path prefix
    echo "insert into strvfile (mid, categoryid, absolutepath, dts, $cols)
          with recursive n(i) as (select 1 union all select i + 1 from n where i < $2)
          select '$1-' || i, '$1', '$3' || i || '.ppm', '2030-01-01 00:00:00', $cols
          from n, (select * from strvfile where categoryid = (select mid from strvcategory where displaytag = 'Seed'));"
}
{
    echo "begin;"
    echo "insert into strvcategory (mid, supermid, type, displaytag) values ('top', null, 'F', 'Top'), ('mid', 'top', 'F', 'Middle');"
    for c in $(seq 1 20); do
        parent=top; [ "$c" -gt 10 ] && parent=mid
        echo "insert into strvcategory (mid, supermid, type, displaytag) values ('c$c', '$parent', 'C', 'Roll $c');"
        copy "c$c" 2500 "/nowhere/c$c/"
    done
    echo "insert into strvcategory (mid, supermid, type, displaytag) values ('set', null, 'S', 'Picks');"
    echo "insert into strvset (mid, categorymid, filemid) select 's' || mid, 'set', mid from strvfile where categoryid = 'c3';"
    echo "commit;"
} | sqlite3 "$dir/base.sqlite"
{
    echo "begin;"
    for c in c11 c12 c13 c14 c15 c16 c17 c18 c19 c20 mid c1 c2 c3 c4 c5 c6 c7 c8 c9 c10 top; do
        for t in strvset:filemid strvexif:mid strvpurchased:mid strvsold:mid; do
            echo "delete from ${t%%:*} where ${t##*:} in (select mid from strvfile where categoryid='$c');"
        done
        echo "delete from strvfile where categoryid='$c';"
        echo "delete from strvcategory where mid='$c';"
    done
    echo "commit;"
} > "$dir/delete.sql"
out=$(cp "$dir/base.sqlite" "$dir/check.sqlite" && "$window" "$dir/check.sqlite" --delete-category Top 2>/dev/null)
[ "$out" = "deleted" ] && [ "$(sqlite3 "$dir/check.sqlite" "select count(*) from strvfile")" = 1 ] || { echo "delete: $out"; exit 1; }
"$pair" --title "delete a folder of 50,000 entries" --items 50000 \
    --a sh -c "cp '$dir/base.sqlite' '$dir/a.sqlite' && exec '$window' '$dir/a.sqlite' --delete-category Top >/dev/null 2>&1" \
    --b sh -c "cp '$dir/base.sqlite' '$dir/b.sqlite' && exec sqlite3 '$dir/b.sqlite' < '$dir/delete.sql'"

# 20,000 files, catalogued as a surveillance folder and unchanged since.
mkdir "$dir/watched"
python3 -c "
import shutil, sys
for i in range(1, 20001): shutil.copyfile(sys.argv[1], sys.argv[2] + '/f%d.ppm' % i)" "$dir/seed/seed.ppm" "$dir/watched"
touch -d '2 hours ago' "$dir"/watched/*
{
    echo "begin;"
    echo "insert into strvcategory (mid, supermid, type, displaytag, comment) values ('w', null, 'M', 'Watched', '{ SURVEILLANCEFOLDER = \"$dir/watched\"; }');"
    copy w 20000 "$dir/watched/f"
    echo "commit;"
} | sqlite3 "$dir/base.sqlite"
out=$("$window" "$dir/base.sqlite" --rescan Watched 2>/dev/null)
[ "$out" = "new 0 missing 0 changed 0" ] || { echo "re-scan: $out"; exit 1; }
"$pair" --title "re-scan an unchanged folder of 20,000 files" --items 20000 \
    --a sh -c "exec '$window' '$dir/base.sqlite' --rescan Watched >/dev/null 2>&1" \
    --b sh -c "exec find '$dir/watched' -type f -printf '%T@ %p\n' >/dev/null"
