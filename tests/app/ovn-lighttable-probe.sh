#!/bin/bash
# ovn-lighttable on a catalog of the orientation examples and a movie: its lines, in order, as
# other programs read them. Skips (77) without the test media.
set -u
import=$1 lighttable=$2
media=${OVN_TESTDATA:-$(dirname "$0")/../../../shared/testdata}/exif-orientation-examples
[ -f "$media/Landscape_6.jpg" ] || { echo "no test media"; exit 77; }
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen
# One thread, so that the files are stored in the order given: the rows below are that order.
"$import" --threads 1 "$work/c.sqlite" Shots "$media/Landscape_1.jpg" "$media/Landscape_6.jpg" "$media/Landscape_8.jpg" >/dev/null 2>&1 || exit 1
out=$("$lighttable" "$work/c.sqlite" Shots --select 1 --click rotate-right --rate 5 --click style1 \
      --click slideshow --select 2 --wait 3500 2>/dev/null); status=$?
mid='[^ ]+( [^ ]+)?'
expected=(
  "^panes 2$"
  "^loaded 1 $mid 1200x1800 rotation 90$"
  "^turned 1 $mid 3$"
  "^rating 1 $mid 5$"
  "^panes 1$"
  "^advance 2$"
  "^loaded 2 $mid 1200x1800 rotation 270$"
  "^loaded 2 $mid 1200x1800 rotation 270$"
  "^advance 0$"
  "^loaded 0 $mid 1800x1200 rotation 0$"
)
mapfile -t lines <<<"$out"
fail=0
[ "$status" = 0 ] || { echo "exit status $status"; fail=1; }
for i in "${!expected[@]}"; do
  [[ "${lines[$i]:-}" =~ ${expected[$i]} ]] || { echo "line $i: '${lines[$i]:-}' !~ ${expected[$i]}"; fail=1; }
done
[ $fail = 0 ] || { echo "$out"; exit 1; }
echo "ovn-lighttable probe: ${#lines[@]} lines as expected"

# A rating the catalog refuses: one "failed:" line with the window's message, and status 1.
command -v sqlite3 >/dev/null || exit 0
sqlite3 "$work/c.sqlite" "create trigger refuse before update on strvfile when new.rating = 1
                          begin select raise(abort, 'refused by the probe'); end;" || exit 1
out=$("$lighttable" "$work/c.sqlite" Shots --select 0 --rate 1 --rate 2 2>/dev/null); status=$?
[ "$status" = 1 ] || { echo "refused rating: exit status $status"; exit 1; }
[[ "$out" =~ failed:\ Rating\ Failed:.*refused\ by\ the\ probe ]] || { echo "$out"; exit 1; }
[[ "$out" =~ rating\ 0\ .*\ 2 ]] || { echo "$out"; exit 1; }
echo "ovn-lighttable probe: a refused rating says so"
