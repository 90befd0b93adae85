#!/usr/bin/env bash
# ovn-slideshow as checks outside the project run it: each slide in order with its number, a file
# that is no picture skipped, and the grabs at the size asked for.
set -euo pipefail
tool=$1
command -v ffmpeg >/dev/null || { echo "no ffmpeg: skipped"; exit 0; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export HOME=$dir XDG_CONFIG_HOME=$dir/config
ffmpeg -loglevel error -f lavfi -i testsrc=size=320x240 -frames:v 1 "$dir/a.jpg"
ffmpeg -loglevel error -f lavfi -i testsrc=size=100x200 -frames:v 1 "$dir/c.png"
head -c 4096 /dev/zero | tr '\0' 'Z' > "$dir/b.jpg"
out=$("$tool" --size 400x300 --grab "$dir/grab" "$dir/a.jpg" "$dir/b.jpg" "$dir/c.png" 2>/dev/null)
expected="slide 1 of 3 $dir/a.jpg
skipped $dir/b.jpg
slide 3 of 3 $dir/c.png"
[ "$out" = "$expected" ] || { echo "got: $out" >&2; exit 1; }
[ -s "$dir/grab/slide-1.png" ] && [ -s "$dir/grab/slide-3.png" ] && [ ! -e "$dir/grab/slide-2.png" ] \
    || { echo "grabs: $(ls "$dir/grab")" >&2; exit 1; }
# The PNG header's width and height, big-endian at bytes 16 to 23.
size=$(od -An -tu1 -j16 -N8 "$dir/grab/slide-3.png" | awk '{print $3*256+$4 "x" $7*256+$8}')
[ "$size" = 400x300 ] || { echo "grab size: $size" >&2; exit 1; }
status=0
"$tool" >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || { echo "no files: status $status" >&2; exit 1; }
echo "ovn-slideshow lines as expected"
