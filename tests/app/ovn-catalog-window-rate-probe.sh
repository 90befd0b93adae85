#!/usr/bin/env bash
# ovn-catalog-window rates and turns the thumbnails --select chose, the turns in the order given,
# and leaves the others alone. Skips (77) without the sqlite3 program.
# Arguments: the ovn-import and ovn-catalog-window programs.
set -euo pipefail
import=$1 window=$2
command -v sqlite3 >/dev/null || { echo "sqlite3 not installed"; exit 77; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir "$dir/shots"
for n in 1 2 3; do
    { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/shots/img$n.ppm"
done
"$import" --quiet "$dir/cat.sqlite" Shots "$dir/shots" >/dev/null

out=$("$window" "$dir/cat.sqlite" --category Shots --select img1.ppm,img3.ppm --rate 3 \
    --rotate right --rotate right --rotate left 2>/dev/null | grep -v 'items shown')
expected=$'selected 2\nrated 2\nturned right 2\nturned right 2\nturned left 2'
[ "$out" = "$expected" ] || { echo "output: $out"; exit 1; }
rows=$(sqlite3 "$dir/cat.sqlite" "select displaytag, rating, orientation from strvfile order by displaytag")
expected=$'img1.ppm|3|6\nimg2.ppm|0|0\nimg3.ppm|3|6'
[ "$rows" = "$expected" ] || { echo "stored: $rows"; exit 1; }
echo ok
