#!/bin/bash
# ovn-find over a seeded catalog: the smart folder of the seed, a settings file, --save and a refusal.
set -eu
catalog_tool=$1 find_tool=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
"$catalog_tool" c.sqlite seed >/dev/null
sqlite3 c.sqlite "update strvfile set rating=case when displaytag like '%0_.jpg' then 5 else 1 end"
five=$(sqlite3 c.sqlite "select mid from strvcategory where type='I'")
out=$("$find_tool" c.sqlite --smart-folder "$five")
echo "$out" | grep -q '^sql: select strvfile.mid, .* from strvfile where   strvfile.rating=5 order by strvfile.mid$'
echo "$out" | grep -q '^found: 9$'
[ "$(echo "$out" | tail -n +3 | wc -l)" = 9 ]
echo "$out" | tail -n +3 | grep -qP '^[^\t]+\tLandscape 0[1-9].jpg$'

cat > s.plist <<'PLIST'
{ CATALOG = Travel; LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "1.jpg"; },
  { COMBOPERATORTITLE = OR; FIELDTITLE = Name; OPERATORID = 1; VALUE = "x' or '1'='1"; } ); }
PLIST
out=$("$find_tool" c.sqlite s.plist --save "Ends in 1")
# A catalog file holds a name of any length: an entry whose name is too large for the lines is left
# out, its stored size looked at before the lines are tested.
echo "$out" | grep -q "categoryid in ('.*') and (case when coalesce(length(cast(strvfile.displaytag as blob)), 0) <= [0-9]* then (   upper(strvfile.displaytag) like upper('%%1.jpg') escape '\\\\\\\\' OR  upper(strvfile.displaytag) like upper('x'' or ''1''=''1%%') escape '\\\\\\\\') else false end) order by strvfile.mid$"
saved=$(echo "$out" | sed -n 's/^saved: //p')
[ -n "$saved" ]
again=$("$find_tool" c.sqlite --smart-folder "$saved")
[ "$(echo "$out" | grep -v '^saved:')" = "$again" ]

echo '{ LINES = ( { FIELDTITLE = Rating; OPERATORID = 0; VALUE = "5; delete from strvfile"; } ); }' > bad.plist
set +e
out=$("$find_tool" c.sqlite bad.plist)
status=$?
set -e
[ $status = 1 ]
echo "$out" | grep -q '^refused: Line 1: The value "5; delete from strvfile" is not a number.$'
[ "$(sqlite3 c.sqlite 'select count(*) from strvfile')" = 24 ]
# A settings file that is not there is refused (status 1), not taken for a wrong command line.
set +e
out=$("$find_tool" c.sqlite no-such.plist)
status=$?
set -e
[ $status = 1 ]
echo "$out" | grep -q '^refused: The settings file no-such.plist cannot be read: '
# The example the usage gives is a search the tool runs.
"$find_tool" --help | sed -n '/^  { CATALOG/,/); }$/p' > example.plist
[ "$(wc -l < example.plist)" = 2 ]
"$find_tool" c.sqlite example.plist | grep -q '^found: '
# A place the list does not offer searches every entry, as the find sheet does: a title no
# category has, and a smart folder saved in a folder that was renamed since.
echo '{ LINES = ( { FIELDTITLE = Name; OPERATORID = 0; VALUE = "1"; } ); }' > all.plist
echo '{ CATALOG = Nowhere; LINES = ( { FIELDTITLE = Name; OPERATORID = 0; VALUE = "1"; } ); }' > nowhere.plist
everywhere=$("$find_tool" c.sqlite all.plist | grep '^found: ')
[ "$everywhere" != "found: 0" ]
[ "$("$find_tool" c.sqlite nowhere.plist | grep '^found: ')" = "$everywhere" ]
travel=$(sqlite3 c.sqlite "select mid from strvcategory where displaytag='Travel'")
echo '{ CATALOG = Travel; LINES = ( { FIELDTITLE = Name; OPERATORID = 0; VALUE = "1"; } ); }' > travel.plist
saved=$("$find_tool" c.sqlite travel.plist --save "Travel ones" | sed -n 's/^saved: //p')
in_travel=$("$find_tool" c.sqlite --smart-folder "$saved" | grep '^found: ')
sqlite3 c.sqlite "update strvcategory set displaytag='Journeys' where mid='$travel'"
[ "$("$find_tool" c.sqlite --smart-folder "$saved" | grep '^found: ')" = "$everywhere" ]
sqlite3 c.sqlite "update strvcategory set displaytag='Travel' where mid='$travel'"
[ "$("$find_tool" c.sqlite --smart-folder "$saved" | grep '^found: ')" = "$in_travel" ]

# A folder covers the categories at every depth below it.
deeper=$("$catalog_tool" c.sqlite add-category Deeper F "$travel")
porto=$("$catalog_tool" c.sqlite add-category Porto C "$deeper")
: > Porto1.jpg
"$catalog_tool" c.sqlite add-media "$porto" "$dir/Porto1.jpg" >/dev/null
[ "$("$find_tool" c.sqlite travel.plist | grep '^found: ')" = "found: $((${in_travel#found: } + 1))" ]
"$find_tool" c.sqlite travel.plist | grep -qP '\tPorto1.jpg$'
# An entry whose description is too large for a line's long pattern is left out, named on standard
# error; the others are searched.
sqlite3 c.sqlite "update strvfile set fulldesc = replace(hex(zeroblob(1 << 20)), '0', 'a') where mid = (select min(mid) from strvfile)"
sqlite3 c.sqlite "update strvfile set fulldesc = 'short' || replace(hex(zeroblob(2000)), '0', 'a') where mid = (select max(mid) from strvfile)"
planted=$(sqlite3 c.sqlite "select displaytag from strvfile where mid = (select min(mid) from strvfile)")
echo "{ LINES = ( { FIELDOBJECT = { FIELDNAME = fulldesc; OPERATORTYPE = 1; TABLENAME = strvfile; }; OPERATORID = 0; VALUE = \"$(printf 'a%.0s' $(seq 4000))\"; } ); }" > long.plist
out=$("$find_tool" c.sqlite long.plist 2>err)
echo "$out" | grep -q '^found: 1$' || { echo "got: $out" >&2; exit 1; }
grep -qF "left out: The entry \"$planted\" was left out of the search" err || { cat err >&2; exit 1; }
echo "ovn-find probe: ok"
