#!/usr/bin/env bash
# ovn-catalog-window's smart add as other programs run it: a folder with loose pictures and a
# sub-folder goes into a new folder whose collections, with their counts, the outline shows at
# once; --outline alone prints the outline of a catalog as it is loaded.
# Arguments: the ovn-catalog and ovn-catalog-window programs.
set -euo pipefail
catalog=$1 window=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$dir/Trip/Harbour"
picture() { { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$((100 + $2))"; } > "$1"; }
picture "$dir/Trip/a.ppm" 1
picture "$dir/Trip/b.ppm" 2
picture "$dir/Trip/Harbour/c.ppm" 3
"$catalog" "$dir/cat.sqlite" create >/dev/null
"$catalog" "$dir/cat.sqlite" add-category Studio C >/dev/null

expected=$'Database\n  Trip 2\n    Trip 2\n    Harbour 1\n  Studio 0'
out=$(timeout 300 "$window" "$dir/cat.sqlite" --smart-add "$dir/Trip" --outline 2>/dev/null)
[ "$out" = "$expected" ] || { printf 'after smart add:\n%s\n' "$out"; exit 1; }
# A new load shows the folder closed.
out=$(timeout 300 "$window" "$dir/cat.sqlite" --outline 2>/dev/null)
[ "$out" = $'Database\n  Trip 2\n  Studio 0' ] || { printf 'after load:\n%s\n' "$out"; exit 1; }
echo ok
