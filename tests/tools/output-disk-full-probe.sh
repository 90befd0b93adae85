#!/usr/bin/env bash
# output-disk-full-probe.sh TOOLDIR: export and web gallery into a folder on a disk that is full. Each
# picture that found no room is listed with "the disk is full" and its folder, the tools say so on
# their status, and no half-written file is left there. The full disk is a small tmpfs in a mount
# namespace of the probe's own: without the right to make one (not root) the probe is skipped.
set -u
tools=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config QT_QPA_PLATFORM=offscreen TMPDIR=$work/tmp
mkdir -p "$HOME" "$work/files" "$work/tmp" "$work/full"
if ! unshare -m true 2>/dev/null; then
    echo "skipped: no mount namespace can be made here"
    exit 77
fi
# Noise, so that each JPEG is larger than the disk's room.
for n in 1 2; do
    { printf 'P6\n600 400\n255\n'; head -c 720000 /dev/urandom; } > "$work/files/img$n.ppm"
done
catalog="$work/c.sqlite"
"$tools/ovn-import" --quiet "$catalog" Shots "$work/files" >/dev/null 2>&1 || { echo "the import failed"; exit 1; }

unshare -m bash -s "$tools" "$catalog" "$work" <<'INNER'
set -u
tools=$1 catalog=$2 work=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mount -t tmpfs -o size=48k tmpfs "$work/full" || { echo "skipped: no tmpfs"; exit 77; }
out=$("$tools/ovn-export" "$catalog" Shots "$work/full" --custom 600 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "export: status $status: $out"
grep -qF "failed: img1.ppm: the disk is full ($work/full)" <<<"$out" || fail "export: no full disk named: $out"
grep -q "exported: [01] of 2" <<<"$out" || fail "export: wrong count: $out"
grep -q "^peak memory [0-9]* MiB held at once" <<<"$out" || fail "export: no figures of its process tree: $out"
# Nothing half-written is left: only whole pictures, no temporary files.
for file in "$work/full"/.[!.]* "$work/full"/*; do
    [ -e "$file" ] || continue
    case $file in
    */img[12].jpg) ;;
    *) fail "export left $file" ;;
    esac
done
rm -rf "$work/full"/* "$work/full"/.[!.]* 2>/dev/null
out=$("$tools/ovn-publish" "$catalog" Shots "$work/full" 2>&1)
grep -q "failed: img[12].ppm: the disk is full" <<<"$out" || fail "publish: no full disk named: $out"
exit $((failures > 0))
INNER
status=$?
[ "$status" -eq 0 ] && echo "the full disk is named on every road"
exit "$status"
