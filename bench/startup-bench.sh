#!/usr/bin/env bash
# bench/startup-bench.sh [BUILD-DIR]: the program from exec to the first paint of its catalog window
# with a collection of 1,000 entries selected and its first screen of thumbnails drawn, on a
# 1920 x 1080 offscreen screen, on catalogs of 10,000, 100,000 and 500,000 entries shaped as a
# studio keeps them (collections of 1,000 in folders, sets, a metadata row and a real-size
# thumbnail per entry; made by `catalogdb_list startup`, kept in $OVN_BENCH_DIR, default
# /tmp/ovn-startup-catalogs). The large catalogs are timed against the small one, A B A B through
# bench_pair (medians, the median pair ratio, each side's peak memory): warm (the catalog in the
# page cache) and cold (the catalog file dropped from it with `dd iflag=nocache` just before each
# start; the program's own files stay cached, as on a computer that has started it before).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
cache=${OVN_BENCH_DIR:-/tmp/ovn-startup-catalogs}
mkdir -p "$cache"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
printf '{"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpiX": 96, "logicalDpiY": 96, "dpr": 1}]}' \
    >"$scratch/screen.json"
export QT_QPA_PLATFORM="offscreen:configfile=$scratch/screen.json"
mkdir -m 0700 -p "$scratch/runtime"
export XDG_RUNTIME_DIR=$scratch/runtime

declare -A catalog selected
for n in 10000 100000 500000; do
    file=$cache/studio-v1-$n.sqlite
    if [ ! -s "$file.selected" ]; then
        rm -f "$file" "$file.selected"
        started=$(date +%s)
        "$build/bench/catalogdb_list" startup "$file" "$n" | sed -n 's/^Selected //p' >"$file.selected.part"
        mv "$file.selected.part" "$file.selected"
        echo "made $file in $(( $(date +%s) - started )) s"
    fi
    catalog[$n]=$file
    selected[$n]=$(cat "$file.selected")
    printf '%7d entries: %s (%d MiB)\n' "$n" "$file" $(( $(stat -c %s "$file") / 1048576 ))
    # A home of its own, whose catalog is the cached file; the first start writes the preferences.
    mkdir -p "$scratch/home-$n/Documents/Ostrevan" "$scratch/config-$n"
    ln -sf "$file" "$scratch/home-$n/Documents/Ostrevan/MediaDB.sqlite"
    HOME=$scratch/home-$n XDG_CONFIG_HOME=$scratch/config-$n \
        "$build/app/ostrevan" -DBVendor Integrated -OVNQuitAfterStartup YES 2>/dev/null
    # Written out, so that dropping it from the page cache leaves nothing of it there.
    sync "$file"
done

start() { # entries, cold|warm: the shell line of one start
    local n=$1 drop=""
    [ "$2" = cold ] && drop="dd if='${catalog[$n]}' iflag=nocache count=0 status=none && "
    echo "${drop}HOME='$scratch/home-$n' XDG_CONFIG_HOME='$scratch/config-$n' exec '$build/app/ostrevan' -DBVendor Integrated -OVNQuitAfterFirstPaint YES -OVNStartupCategory '${selected[$n]}' 2>/dev/null"
}

for temperature in warm cold; do
    for n in 100000 500000; do
        echo
        a=$(start "$n" "$temperature") b=$(start 10000 "$temperature")
        "$build/bench/bench_pair" --title "Start-up to a selected collection's first thumbnails painted, $temperature: $n entries (A) / 10,000 (B)" \
            --a sh -c "$a" --b sh -c "$b"
    done
done
