#!/usr/bin/env bash
# ovn-autofill as other programs run it: its lines, what it stores, a write the catalog refuses, a
# field the auto-fill sheet does not offer, a category whose entries cannot be read.
# Skips (77) without the sqlite3 program.
# Arguments: the ovn-import and ovn-autofill programs.
set -euo pipefail
import=$1 autofill=$2
command -v sqlite3 >/dev/null || { echo "sqlite3 not installed"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$dir/Shoot/Day1"
for n in 1 2 3; do
    { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/Shoot/Day1/img$n.ppm"
done
"$import" --quiet "$dir/cat.sqlite" Shots "$dir/Shoot/Day1" >/dev/null
sqlite3 "$dir/cat.sqlite" "update strvfile set keywords = 'Beach'"
sqlite3 "$dir/cat.sqlite" "create trigger refuse before update on strvfile when new.displaytag = 'img2.ppm' and new.fulldesc = 'x' begin select raise(abort, 'refused'); end"

set +e
out=$("$autofill" "$dir/cat.sqlite" Shots append keywords=sunset fulldesc=x "purchased.owner=Ann O'Neil" \
    --filename keywords --folders keywords 2 2>"$dir/err")
status=$?
set -e
[ "$status" = 1 ] || { echo "status $status: $out"; exit 1; }
summary=$(grep -v '^failed: .* fulldesc: ' <<<"$out" | grep -v '^time: ')
expected=$'entries: 3\nwritten: 11\nrefused: 0\nfailed: 1'
[ "$summary" = "$expected" ] || { echo "output: $out"; exit 1; }
grep -q '^failed: .* fulldesc: .*refused' <<<"$out" || { echo "no reason: $out"; exit 1; }
grep -qE '^time: [0-9.]+ s$' <<<"$(tail -1 <<<"$out")" || { echo "no time last: $out"; exit 1; }
rows=$(sqlite3 "$dir/cat.sqlite" "select f.displaytag, f.keywords, coalesce(f.fulldesc, ''), p.owner from strvfile f
    join strvpurchased p on p.mid = f.mid order by f.displaytag")
expected=$'img1.ppm|Beach sunset img1 Day1 Shoot|x|Ann O\'Neil\nimg2.ppm|Beach sunset img2 Day1 Shoot||Ann O\'Neil\nimg3.ppm|Beach sunset img3 Day1 Shoot|x|Ann O\'Neil'
[ "$rows" = "$expected" ] || { echo "stored: $rows"; exit 1; }

# Only the fields the auto-fill sheet offers: any other column is refused before anything is written,
# the offered fields given with it included.
before=$(sqlite3 "$dir/cat.sqlite" "select * from strvfile order by mid")
for field in categoryid absolutepath cataloguedby filetype displaytag mid purchased.mid sold.owner; do
    set +e
    out=$("$autofill" "$dir/cat.sqlite" Shots overwrite shortdesc=changed "$field=/etc/passwd" 2>&1)
    status=$?
    set -e
    [ "$status" = 1 ] || { echo "$field: status $status: $out"; exit 1; }
    grep -qF "refused: Auto-fill does not fill in the field \"$field\"." <<<"$out" || { echo "$field: $out"; exit 1; }
    [ "$(sqlite3 "$dir/cat.sqlite" "select * from strvfile order by mid")" = "$before" ] \
        || { echo "$field: the catalog changed"; exit 1; }
done

# A category whose entries cannot be read (a column of the catalog gone) is refused with the reason,
# status 1: never counted as "entries: 0".
sqlite3 "$dir/cat.sqlite" "alter table strvfile rename column pricetag to pricetag_gone"
set +e
out=$("$autofill" "$dir/cat.sqlite" Shots append keywords=unread 2>/dev/null)
status=$?
set -e
[ "$status" = 1 ] || { echo "unreadable: status $status: $out"; exit 1; }
grep -q '^refused: .*pricetag' <<<"$out" || { echo "unreadable, no reason: $out"; exit 1; }
if grep -q '^entries:' <<<"$out"; then echo "unreadable, yet counted: $out"; exit 1; fi
sqlite3 "$dir/cat.sqlite" "alter table strvfile rename column pricetag_gone to pricetag"
[ "$(sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile where keywords like '%unread%'")" = 0 ] \
    || { echo "unreadable, yet written"; exit 1; }

# Bad arguments and an unknown category say so.
if "$autofill" "$dir/cat.sqlite" Shots sideways keywords=a >/dev/null 2>&1; then exit 1; fi
if "$autofill" "$dir/cat.sqlite" Nowhere append keywords=a >/dev/null 2>&1; then exit 1; fi
echo ok
