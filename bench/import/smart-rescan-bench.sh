#!/usr/bin/env bash
# bench/import/smart-rescan-bench.sh [BUILD-DIR] [COUNT]: smart import and re-scan of COUNT
# (1,000) 12-megapixel JPEGs, each against the plain import of the same files in the same run,
# as whole ovn-import processes through bench_pair (A B A B; the ratio is A's time over B's, so
# files/s of A relative to B is its inverse). The pictures are those bench_import makes in
# $OVN_BENCH_DIR/pictures (default /tmp/ovn-import-bench); run it once first.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$top/build-rel}
count=${2:-1000}
pair=$build/bench/bench_pair import=$build/tools/ovn-import
pictures=${OVN_BENCH_DIR:-/tmp/ovn-import-bench}/pictures
[ "$(ls "$pictures" | grep -c '^photo.*\.jpg$')" -ge "$count" ] || { echo "run bench_import $count first"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir "$dir/set"
ls "$pictures" | grep '^photo.*\.jpg$' | head -n "$count" | while read -r name; do
    ln "$pictures/$name" "$dir/set/$name" 2>/dev/null || cp "$pictures/$name" "$dir/set/$name"
done
plain=(sh -c "rm -f '$dir/plain.sqlite' && exec '$import' --quiet '$dir/plain.sqlite' Bench '$dir/set'")

"$pair" --title "Smart import (A) against the plain import (B) of $count files" --pairs 5 --items "$count" \
    --a sh -c "rm -f '$dir/smart.sqlite' && exec '$import' --smart --quiet '$dir/smart.sqlite' Shoots '$dir/set'" \
    --b "${plain[@]}"
echo
"$import" --quiet "$dir/rescan.sqlite" Bench "$dir/set" >/dev/null
"$pair" --title "Re-scan (A) against the plain import (B) of $count files" --pairs 5 --items "$count" \
    --a "$import" --rescan --quiet "$dir/rescan.sqlite" Bench \
    --b "${plain[@]}"
