#!/usr/bin/env bash
# The ovn-catalog probe makes a catalog file that sqlite3 reads as one, and lists what it added.
# Arguments: the ovn-catalog program, a file to catalogue.
set -euo pipefail
probe=$1
media=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
catalog="$dir/MediaDB.sqlite"

"$probe" "$catalog" create
folder=$("$probe" "$catalog" add-category "Trips" F)
collection=$("$probe" "$catalog" add-category "Summer's End" C "$folder")
set=$("$probe" "$catalog" add-category "Best of" S)
mid=$("$probe" "$catalog" add-media "$collection" "$media")
"$probe" "$catalog" link "$mid" "$set" >/dev/null

schema=$(sqlite3 "$catalog" .schema)
for name in strvcategory strvset strvfile strvexif strvpurchased strvsold \
            idxcategorymid idxset1mid idxset2mid idxset3mid idxfilemid idxfilecatid idxfiledistag \
            idxfilekeywords idxexifid idxexifmid idxpurchasedid idxpurchasedmid idxsoldid idxsoldmid; do
    grep -q "$name " <<<"$schema" || { echo "missing from the schema: $name"; exit 1; }
done

categories=$("$probe" "$catalog" categories)
grep -qF "$folder	F	Trips" <<<"$categories" || { echo "folder not listed"; exit 1; }
grep -qF "  $collection	C	Summer's End" <<<"$categories" || { echo "collection not listed under its folder"; exit 1; }
grep -qF "$set	S	Best of" <<<"$categories" || { echo "set not listed"; exit 1; }
"$probe" "$catalog" media "$collection" | grep -qF "$mid	$(basename "$media")" || { echo "media not listed"; exit 1; }
"$probe" "$catalog" media "$set" S | grep -qF "$mid" || { echo "set member not listed"; exit 1; }
[ "$(sqlite3 "$catalog" 'select count(*) from strvfile')" = 1 ] || { echo "sqlite3 sees no media row"; exit 1; }
if "$probe" "$catalog" create 2>/dev/null; then echo "create over a catalog succeeded"; exit 1; fi
echo "ok"
