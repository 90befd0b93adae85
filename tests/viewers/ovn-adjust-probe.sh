#!/usr/bin/env bash
# ovn-adjust as checks outside the project run it: slider moves, turns and a crop in the order given,
# the export line, a saved preset listed, and status 1 for a file it cannot load or write.
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export HOME=$dir XDG_CONFIG_HOME=$dir/config
{ printf 'P6\n40 20\n255\n'; head -c 2400 /dev/zero | tr '\0' '\200'; } > "$dir/p.ppm"
out=$("$tool" "$dir/p.ppm" "$dir/o.jpeg" --orientation 6 --gamma 0.75 --exposure 0.5 --rotate right --crop 2,3,10,8 \
    --quality 80 --save-preset "Half stop" 2>/dev/null)
grep -Eq "^exported 10x8 to $dir/o.jpeg in [0-9]+ ms$" <<<"$out" || { echo "got: $out" >&2; exit 1; }
# A turn and a straighten before the crop come back with the revert; the TIFF keeps the whole picture.
out=$("$tool" "$dir/p.ppm" "$dir/o.tif" --rotate left --crop 0,0,5,5 --revert 2>/dev/null)
[ "$out" = "exported 20x40 to $dir/o.tif in ${out##* in }" ] || { echo "got: $out" >&2; exit 1; }
out=$("$tool" --list-presets 2>/dev/null)
expected=$(printf 'Half stop\tciexposure=0.5 cigamma=0.75 cibrightness=0.0 cicontrast=100.0 cisaturation=100.0 citemperature=100.0 citint=0.0 cisepia=0.0 cisharpness=0.0')
[ "$out" = "$expected" ] || { echo "got: $out" >&2; exit 1; }
printf 'not a picture' > "$dir/bad.jpg"
status=0; "$tool" "$dir/bad.jpg" "$dir/x.jpg" >/dev/null 2>&1 || status=$?
[ "$status" = 1 ] && [ ! -e "$dir/x.jpg" ] || { echo "bad input: status $status" >&2; exit 1; }
status=0; "$tool" "$dir/p.ppm" "$dir/none/x.jpg" >/dev/null 2>&1 || status=$?
[ "$status" = 1 ] || { echo "unwritable: status $status" >&2; exit 1; }
echo "ovn-adjust lines as expected"
