#!/usr/bin/env bash
# ovn-view as checks outside the project run it: the picture as turned and zoomed, the times, the
# grab, and "failed: ..." with status 1 for a file it cannot show.
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export HOME=$dir XDG_CONFIG_HOME=$dir/config
{ printf 'P6\n40 20\n255\n'; head -c 2400 /dev/zero | tr '\0' '\200'; } > "$dir/p.ppm"
out=$("$tool" "$dir/p.ppm" --orientation 8 --size 300x300 --zoom actual --zoom in --grab "$dir/g.png" 2>/dev/null)
first=$(sed -n 1p <<<"$out")
[ "$first" = "shown 20x40 rotation 270 zoom 1.25" ] || { echo "got: $out" >&2; exit 1; }
grep -Eq '^first picture [0-9]+ ms, full picture [0-9]+ ms$' <<<"$(sed -n 2p <<<"$out")" || { echo "got: $out" >&2; exit 1; }
[ -s "$dir/g.png" ] || { echo "no grab written" >&2; exit 1; }
printf 'not a picture' > "$dir/bad.jpg"
# What the alert would say of each.
for case in "bad.jpg:The picture cannot be read." "missing.jpg:The file is not there."; do
    file=$dir/${case%%:*}
    status=0
    out=$("$tool" "$file" 2>/dev/null) || status=$?
    [ "$status" = 1 ] && [ "$out" = "failed: ${case#*:}" ] || { echo "$file: $status $out" >&2; exit 1; }
done
echo "ovn-view lines as expected"
