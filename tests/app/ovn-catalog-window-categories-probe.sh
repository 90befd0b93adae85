#!/usr/bin/env bash
# ovn-catalog-window watches a folder, re-scans it after one file went, one came and one was
# touched, refuses it once it is gone, and deletes a folder with all below it.
# Arguments: the ovn-import and ovn-catalog-window programs.
set -euo pipefail
import=$1 window=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$dir/watched/sub" "$dir/other"
ppm() { { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$((100 + $2))"; } > "$1"; }
for n in 1 2 3; do ppm "$dir/watched/img$n.ppm" $n; done
ppm "$dir/watched/sub/deep.ppm" 4
ppm "$dir/other/o.ppm" 5
touch -d '2 hours ago' "$dir"/watched/*.ppm "$dir"/watched/sub/*.ppm
"$import" --quiet "$dir/cat.sqlite" Other "$dir/other" >/dev/null

run() { "$window" "$dir/cat.sqlite" "$@" 2>/dev/null | grep -v 'items shown'; }
out=$(run --new-surveillance-folder "$dir/watched")
[ "$out" = "created 4 entries" ] || { echo "new: $out"; exit 1; }
rm "$dir/watched/img1.ppm"
ppm "$dir/watched/img4.ppm" 6
sleep 1
touch "$dir/watched/img2.ppm"
out=$(run --rescan watched)
[ "$out" = "new 1 missing 1 changed 1" ] || { echo "rescan: $out"; exit 1; }
out=$(run --rescan watched)
[ "$out" = "new 0 missing 0 changed 0" ] || { echo "second rescan: $out"; exit 1; }
mv "$dir/watched" "$dir/away"
out=$(run --rescan watched) && { echo "a missing folder was re-scanned: $out"; exit 1; }
case $out in *"Nothing was changed"*) ;; *) echo "refusal: $out"; exit 1 ;; esac
out=$(run --delete-category watched)
[ "$out" = "deleted" ] || { echo "delete: $out"; exit 1; }
out=$(run --delete-category watched) && { echo "deleted twice: $out"; exit 1; }
out=$(run --delete-category Other)
[ "$out" = "deleted" ] || { echo "delete other: $out"; exit 1; }
echo ok
