#!/usr/bin/env bash
# ovn-catalog-window's --menus as other programs read it: every item of the window's menus and
# toolbar as "MENU > ITEM", marked " (disabled)" as the window has it now; and --smart-add with
# --prefill, whose typed values every entry of the smart add carries.
# Arguments: the ovn-import, ovn-catalog and ovn-catalog-window programs.
set -euo pipefail
import=$1 catalog=$2 window=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
picture() { { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$((100 + $2))"; } > "$1"; }
mkdir -p "$dir/shots" "$dir/Trip/Harbour"
picture "$dir/shots/img01.ppm" 1
picture "$dir/shots/img02.ppm" 2
picture "$dir/Trip/a.ppm" 3
picture "$dir/Trip/Harbour/c.ppm" 4
"$import" --quiet "$dir/cat.sqlite" Sheet "$dir/shots" >/dev/null

fail() { printf '%s\n' "$1" "$out"; exit 1; }
# Nothing selected, then one thumbnail selected: a line per item, every line a path.
out=$(timeout 300 "$window" "$dir/cat.sqlite" --menus 2>/dev/null)
grep -qvE '^[^>]+( > [^>]+)+$' <<<"$out" && fail "a line that is no menu path:"
[ "$(grep -c '' <<<"$out")" = "$(sort -u <<<"$out" | grep -c '')" ] || fail "a line twice:"
while IFS= read -r line; do
    grep -qxF "$line" <<<"$out" || fail "no line \"$line\" without a selection in:"
done <<'LINES'
File > Smart Add...
File > Import Record Export...
File > Page Setup...
File > Print... (disabled)
Edit > Cut (disabled)
Edit > Copy (disabled)
Edit > Find...
View > Thumbnail Style > List View
View > Arrange By > Name
Media > Rating > 3 Stars (disabled)
Media > Rotate Left (disabled)
Window > Minimize
Window > Zoom
Toolbar > Rotate Left (disabled)
Toolbar > Arrange By > Name
LINES
out=$(timeout 300 "$window" "$dir/cat.sqlite" --category Sheet --select img01.ppm --menus 2>/dev/null)
while IFS= read -r line; do
    grep -qxF "$line" <<<"$out" || fail "no line \"$line\" with a selection in:"
done <<'LINES'
File > Print...
Edit > Copy
Edit > Cut (disabled)
Media > Rating > 3 Stars
Media > Open in Viewer
Media > Export...
Toolbar > Export
LINES

# The smart add's pane, typed into before the import: every entry carries the values.
out=$(timeout 300 "$window" "$dir/cat.sqlite" --smart-add "$dir/Trip" --prefill "keywords=Harbour at dusk" \
    --prefill fulldesc=Evening --prefill purchased.owner=Ann --outline 2>/dev/null)
[ "$out" = $'Database\n  Trip 2\n    Trip 1\n    Harbour 1\n  Sheet 2' ] || fail "after the smart add:"
out=$("$catalog" "$dir/cat.sqlite" categories | awk -F'\t' '$2 == "C" { sub(/^ +/, "", $1); print $1 }' |
    while IFS= read -r id; do "$catalog" "$dir/cat.sqlite" list "$id"; done)
[ "$(grep -c '|Harbour at dusk||Evening|' <<<"$out")" = 2 ] || fail "not both entries filled in:"
[ "$(grep -c '|img0' <<<"$out")" = 2 ] || fail "the earlier entries:"
grep -q '|img0.*Harbour' <<<"$out" && fail "an earlier entry changed:"
# A field the pane does not have, or --prefill alone, is a wrong command line.
status=0; timeout 300 "$window" "$dir/cat.sqlite" --smart-add "$dir/Trip" --prefill nosuch=1 >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || { echo "unknown field: status $status"; exit 1; }
status=0; timeout 300 "$window" "$dir/cat.sqlite" --prefill keywords=x >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || { echo "--prefill alone: status $status"; exit 1; }
echo ok
