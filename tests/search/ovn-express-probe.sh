#!/bin/bash
# ovn-express over a seeded catalog: quick and expert searches, refusals, a failed search, rating.
set -eu
catalog_tool=$1 express=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
"$catalog_tool" c.sqlite seed >/dev/null
sqlite3 c.sqlite "update strvfile set rating=case when displaytag like '%0_.jpg' then 5 else 1 end"
before=$(sqlite3 c.sqlite "select group_concat(mid || rating) from strvfile")

out=$("$express" c.sqlite --quick Displaytag:"landscape 0" AND Rating:5)
[ "$(echo "$out" | head -1)" = "found: 9" ]
echo "$out" | tail -n +2 | grep -qP '^[^\t]+\tLandscape 0[1-9].jpg$'
[ "$(echo "$out" | tail -n +2 | wc -l)" = 9 ]
[ "$("$express" c.sqlite --in Travel --quick All:landscape OR Rating:5 | head -1)" = "found: $(sqlite3 c.sqlite "select count(*) from strvfile f join strvcategory c on c.mid=f.categoryid where c.displaytag in ('Lisbon','Alps')")" ]
[ "$("$express" c.sqlite --expert "#rating# = 5 and upper(#displaytag#) like '%.JPG'" | head -1)" = "found: 9" ]

expect_fail() { # status, first line
    set +e
    out=$("$express" c.sqlite "${@:3}")
    status=$?
    set -e
    [ $status = "$1" ] || { echo "exit $status for ${*:3}" >&2; exit 1; }
    [ "$(echo "$out" | head -1)" = "$2" ] || { echo "got: $out" >&2; exit 1; }
}
expect_fail 1 'refused: Rating must be a number' --quick All:x AND Rating:five
expect_fail 1 'refused: A search is one condition: ";" is not accepted.' --expert '1=1; delete from strvfile'
expect_fail 1 'refused: The parentheses do not match: a ")" closes nothing.' --expert 'rating=1) or (1=1'
expect_fail 1 'refused: A search condition cannot hold a query of its own ("exists").' --expert "exists (with recursive r(n) as (select 1 union all select n+1 from r) select 1 from r)"
expect_fail 1 'refused: The search could not run.' --expert "upper() = 'x'"
expect_fail 1 'refused: A search condition cannot trim given characters with "ltrim": write it with its text alone, which trims blanks.' --expert "ltrim(#fulldesc#, #keywords#) = ''"
expect_fail 1 "refused: \"substring\" takes whole numbers after its text (where to start, how many), not \"'(a|b)*c'\"." --expert "substring(#fulldesc#, '(a|b)*c') is null"
[ "$(sqlite3 c.sqlite "select group_concat(mid || rating) from strvfile")" = "$before" ]

# The time limit over planted descriptions, with the heaviest pattern the bounds allow over them:
# the search is stopped at its limit (the time it took is printed).
sqlite3 c.sqlite "update strvfile set fulldesc = printf('%.*c', 200000, 'a')"
pattern=$(printf 'a%.0s' $(seq 2600))
start=$(date +%s%N)
expect_fail 1 'stopped: The search took longer than 2 seconds and was stopped.' --time-limit 2 --expert "#fulldesc# like '%${pattern}b%'"
echo "ovn-express --time-limit 2 over $(sqlite3 c.sqlite "select count(*) from strvfile") planted descriptions took $(( ($(date +%s%N) - start) / 1000000 )) ms"

# A description of 32 MB, and on another entry a name of 32 MB: searches that test them leave those
# entries out, named on standard error, and search the others; one of the other fields finds them.
sqlite3 c.sqlite "update strvfile set fulldesc = replace(hex(zeroblob(16 << 20)), '0', 'a') || 'needle' where mid = (select min(mid) from strvfile)"
name=$(sqlite3 c.sqlite "select displaytag from strvfile where mid = (select max(mid) from strvfile)")
sqlite3 c.sqlite "update strvfile set displaytag = replace(hex(zeroblob(16 << 20)), '0', 'b'), shortdesc = 'planted' where mid = (select max(mid) from strvfile)"
planted=$(sqlite3 c.sqlite "select displaytag from strvfile where mid = (select min(mid) from strvfile)")
everyone=$(sqlite3 c.sqlite "select count(*) - 2 from strvfile")
out=$("$express" c.sqlite --quick All:.jpg 2>err)
[ "$(echo "$out" | head -1)" = "found: $everyone" ] || { echo "got: $out" >&2; exit 1; }
grep -qF "left out: Entries such as \"$planted\" were left out of the search" err || { cat err >&2; exit 1; }
[ "$("$express" c.sqlite --quick "Full Description:NEEDLE" 2>err | head -1)" = "found: 0" ]
grep -qF "left out: The entry \"$planted\" was left out" err
[ "$("$express" c.sqlite --quick "Displaytag:$planted" 2>err | head -1)" = "found: 1" ]
[ "$("$express" c.sqlite --quick "Keywords:planted" 2>err | head -1)" = "found: 1" ]
[ ! -s err ]
[ "$("$express" c.sqlite --expert "upper(#displaytag#) like '%B%'" 2>err | head -1)" = "found: 0" ]
grep -qF "left out: The entry" err
sqlite3 c.sqlite "update strvfile set displaytag = '$name', shortdesc = '' where mid = (select max(mid) from strvfile)"
sqlite3 c.sqlite "update strvfile set fulldesc = ''"

out=$("$express" c.sqlite --rate 3 --quick Displaytag:"Landscape 1")
echo "$out" | grep -q '^rated: 10$'
[ "$(sqlite3 c.sqlite "select count(*) from strvfile where rating=3")" = 10 ]
echo "ovn-express probe: ok"
