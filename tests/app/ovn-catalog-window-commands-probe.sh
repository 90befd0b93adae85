#!/usr/bin/env bash
# ovn-catalog-window's filter field and menu commands as other programs read them: "shown N" for
# --filter, a line per command for --actions, and the program quits by itself.
# Arguments: the ovn-import and ovn-catalog-window programs.
set -euo pipefail
import=$1 window=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir "$dir/shots"
for n in 1 2 3; do
    { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/shots/img0$n.ppm"
done
"$import" --quiet "$dir/cat.sqlite" Sheet "$dir/shots" >/dev/null

out=$(timeout 300 "$window" "$dir/cat.sqlite" --category Sheet --filter IMG02 --filter-field 1 2>/dev/null)
grep -qxF "shown 1" <<<"$out" || { echo "filter: $out"; exit 1; }
out=$(timeout 300 "$window" "$dir/cat.sqlite" --category Sheet --select img01.ppm --actions 2>/dev/null)
for line in "cut disabled" "copy enabled" "delete enabled" "paste disabled" "menuSetRating 0 enabled checked" \
            "menuSetRating 3 enabled" "buttonViewsortMenuClick 100 disabled checked" "menuSetSearchFilter 0 enabled checked"; do
    grep -qxF "$line" <<<"$out" || { echo "no line \"$line\" in: $out"; exit 1; }
done
[ "$(grep -cE ' (enabled|disabled)( checked)?$' <<<"$out")" = 79 ] || { echo "not 79 commands: $out"; exit 1; }
