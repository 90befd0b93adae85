#!/usr/bin/env bash
# ovn-import --rescan names every entry it did not re-scan with the reason: a file that is no longer
# there says so, and the re-scan ends with status 1.
# Argument: the ovn-import program.
set -euo pipefail
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$dir/files"
for name in kept gone; do
    { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' '\150'; } > "$dir/files/$name.ppm"
done
"$tool" --quiet "$dir/cat.sqlite" Shots "$dir/files" >/dev/null
rm "$dir/files/gone.ppm"
status=0
"$tool" --quiet --rescan "$dir/cat.sqlite" Shots >"$dir/out" 2>"$dir/err" || status=$?
[ "$status" = 1 ] || { echo "status $status, not 1: $(cat "$dir/out" "$dir/err")"; exit 1; }
grep -qx "rescanned 1 of 2" "$dir/out" || { echo "not counted: $(cat "$dir/out")"; exit 1; }
grep -qxF "  $dir/files/gone.ppm: the file is missing" "$dir/err" || { echo "no reason given: $(cat "$dir/err")"; exit 1; }
echo ok
