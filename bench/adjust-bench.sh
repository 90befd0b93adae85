#!/usr/bin/env bash
# bench/adjust-bench.sh [BUILD-DIR]: a 24-megapixel JPEG through the adjustment window at full size
# (straighten 3, exposure 1, gamma 1.5, saturation 150, contrast 120, sharpness 1, sepia 0.3) to
# JPEG by ovn-adjust, against vips's rotate 3, linear 2 0 --uchar, gamma --exponent 1.5 and sharpen
# --sigma 2.5 chained over .v files, as whole processes through bench_pair (A B A B, median pair
# ratio); then the preview figure of bench_adjust.
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
"$pair" --title "24 MP JPEG adjusted at full size to JPEG: ovn-adjust / vips chain over .v files" --pairs 5 \
    --a sh -c "exec '$adjust' '$dir/in.jpg' '$dir/a.jpg' --straighten 3 --exposure 1 --gamma 1.5 --saturation 150 --contrast 120 --sharpness 1 --sepia 0.3 >/dev/null 2>&1" \
    --b sh -c "cd '$dir' && vips rotate in.jpg r1.v 3 && vips linear r1.v l.v 2 0 --uchar && vips gamma l.v g.v --exponent 1.5 && exec vips sharpen g.v b.jpg --sigma 2.5"
"$build/bench/bench_adjust"
