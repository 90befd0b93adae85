#!/usr/bin/env bash
# bench/adjust-bench.sh [BUILD-DIR]: a 24-megapixel JPEG through the adjustment window at full size
# (straighten 3, exposure 1, gamma 1.5, saturation 150, contrast 120, sharpness 1, sepia 0.3) to
# JPEG by ovn-adjust, a whole process timed by bench_pair, with its peak memory. No peer: the vips
# command line cannot run these operations in one process, and a chain of processes through
# intermediate files is another job; so time and memory alone. Then the preview figure of
# bench_adjust.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
pair=$build/bench/bench_pair adjust=$build/tools/ovn-adjust
command -v vips >/dev/null || { echo "vips is missing"; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# A real photograph enlarged to 6000x4000 when the test data is there, else vips's own pattern.
photo=${OVN_TESTDATA:-$top/../shared/testdata}/exif-orientation-examples/Landscape_0.jpg
if [[ -f $photo ]]; then
    vips resize "$photo" "$dir/r.v" 3.4
    vips crop "$dir/r.v" "$dir/in.jpg[Q=92]" 0 0 6000 4000
else
    vips xyz "$dir/x.v" 6000 4000
    vips linear "$dir/x.v" "$dir/in.jpg[Q=92]" 0.04 0 --uchar
fi
export XDG_CONFIG_HOME=$dir/config QT_QPA_PLATFORM=offscreen
"$pair" --title "24 MP JPEG adjusted at full size to JPEG by ovn-adjust (peak memory wanted under 400 MiB)" --pairs 5 \
    --a sh -c "exec '$adjust' '$dir/in.jpg' '$dir/a.jpg' --straighten 3 --exposure 1 --gamma 1.5 --saturation 150 --contrast 120 --sharpness 1 --sepia 0.3 >/dev/null 2>&1"
"$build/bench/bench_adjust"
