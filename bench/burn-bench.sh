#!/usr/bin/env bash
# bench/burn-bench.sh [BUILD-DIR]: 500 MB in 100 files burned to an image file by ovn-burn (the disc
# burner's engine on the stdio: pseudo drive) against `xorriso -outdev IMG -joliet on -map DIR /`
# over the same files, through bench_pair (A B A B, median pair ratio). Each run starts without
# the image file on both sides.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
pair=$build/bench/bench_pair burn=$build/tools/ovn-burn
command -v xorriso >/dev/null || { echo "xorriso is missing"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/src"
for i in $(seq -w 1 100); do head -c 5000000 /dev/urandom > "$dir/src/file$i.bin"; done
"$pair" --title "burn 500 MB in 100 files to an image file: ovn-burn / xorriso" --pairs 5 \
    --a bash -c "rm -f '$dir/a.iso'; exec '$burn' '$dir/a.iso' '$dir'/src/* >/dev/null" \
    --b bash -c "rm -f '$dir/b.iso'; exec xorriso -outdev '$dir/b.iso' -joliet on -map '$dir/src' / >/dev/null 2>&1"
