#!/usr/bin/env bash
# Eight programs write one catalog file at once: three imports, three ratings and two auto-fills,
# started together, in three rounds. Each waits its turn for the others' write locks: every one
# ends with status 0, none says "database is locked", and every import catalogued all its files.
# Arguments: ovn-import, ovn-express and ovn-autofill.
set -uo pipefail
import=$1
express=$2
autofill=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen
mkdir "$dir/files"
for n in $(seq 100 219); do
    { printf 'P6\n8 6\n255\n'; head -c 144 /dev/zero | tr '\0' "\\$n"; } > "$dir/files/img$n.ppm"
done
catalog="$dir/cat.sqlite"
"$import" --quiet "$catalog" Trip "$dir/files" >/dev/null 2>&1 || { echo "probe: the first import failed"; exit 1; }

failures=0
for round in 1 2 3; do
    rm -f "$dir/go"
    pids=()
    start() {
        local name=$1
        shift
        ( while [ ! -e "$dir/go" ]; do sleep 0.01; done
          "$@" >"$dir/$name.out" 2>&1; echo $? >"$dir/$name.status" ) &
        pids+=($!)
    }
    for k in 1 2 3; do
        start "import$k" "$import" --quiet --batch 10 --threads 2 "$catalog" "Round $round-$k" "$dir/files"
        start "rate$k" "$express" "$catalog" --rate "$k" --quick All:img
    done
    for k in 1 2; do
        start "fill$k" "$autofill" "$catalog" Trip append "fulldesc=round $round fill $k"
    done
    sleep 0.2
    touch "$dir/go"
    wait "${pids[@]}"
    for name in import1 import2 import3 rate1 rate2 rate3 fill1 fill2; do
        status=$(cat "$dir/$name.status" 2>/dev/null || echo none)
        if [ "$status" != 0 ] || grep -qi "locked" "$dir/$name.out"; then
            echo "probe: round $round, $name ended with status $status:" >&2
            head -n 5 "$dir/$name.out" >&2
            failures=$((failures + 1))
        fi
    done
    for k in 1 2 3; do
        grep -q "^imported 120 of 120 files" "$dir/import$k.out" \
            || { echo "probe: round $round, import $k: $(grep '^imported' "$dir/import$k.out")" >&2; failures=$((failures + 1)); }
    done
done
[ "$failures" -eq 0 ] && echo "writers-at-once probe: 3 rounds of 8 writers, none locked out"
exit $((failures > 0))
