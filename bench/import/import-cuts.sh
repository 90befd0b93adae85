#!/usr/bin/env bash
# bench/import/import-cuts.sh [BUILD-DIR] [RUNS] [FILES] [MIN-MS] [MAX-MS]: RUNS (20) imports of FILES
# (400) 4-megapixel JPEGs each by ovn-import into a server catalog whose sessions are ended from the side
# (pg_terminate_backend of the import's sessions) every MIN-MS to MAX-MS (50 to 100) milliseconds
# all through the import. For each run: its status, the files it says it imported, the entries the
# catalog holds for it (each file once), and whether it refused or dropped any file while the
# server answered. The summary counts runs, files stored, runs with files refused or lost, runs
# that printed the server's own words, and entries stored twice ("cuts" counts the sessions ended); a sound import has status 0 in every run and stores every file once.
# Starts a throwaway server of its own (scripts/pg-test-server) and stops it at the end.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$top/build-rel}
runs=${2:-20}
count=${3:-400}
min_ms=${4:-50}
max_ms=${5:-100}
import=$build/tools/ovn-import
[ -x "$import" ] || { echo "no $import: build ovn-import first" >&2; exit 1; }
command -v convert >/dev/null || { echo "convert (ImageMagick) makes the pictures: install it" >&2; exit 1; }

dir=$(mktemp -d)
eval "$("$top/scripts/pg-test-server" start)"
cleanup() {
    "$top/scripts/pg-test-server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1 || true
    rm -rf "$dir"
}
trap cleanup EXIT
mkdir -m 0700 "$dir/runtime"
export XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime" QT_QPA_PLATFORM=offscreen PGPASSWORD=$OVN_TEST_PG_PASSWORD
url="postgresql://$OVN_TEST_PG_USER@127.0.0.1:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
sql() { psql -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U "$OVN_TEST_PG_USER" -d "$OVN_TEST_PG_DB" -qAtX -c "$1"; }

# Eight distinct pictures, copied to FILES names.
mkdir "$dir/set"
for i in 0 1 2 3 4 5 6 7; do
    convert -size 2400x1800 "xc:rgb($((i * 31 % 256)),$((i * 67 % 256)),120)" +noise Random -fill white -draw "text 40,40 '$i'" \
        -quality 85 "$dir/p$i.jpg"
done
for n in $(seq -w 1 "$count"); do
    cp "$dir/p$((10#$n % 8)).jpg" "$dir/set/f$n.jpg"
done
# The catalog's tables, made before the cuts begin.
"$import" --quiet "$url" warmup "$dir/p0.jpg" >/dev/null 2>&1

cutter() {
    local cuts=0
    while [ ! -e "$dir/stop" ]; do
        sleep "0.$(printf '%03d' $(( min_ms + RANDOM % (max_ms - min_ms + 1) )))"
        ended=$(sql "select count(*) filter (where pg_terminate_backend(pid)) from (select pid from pg_stat_activity where application_name='Ostrevan' offset 0) s" \
            2>/dev/null) || ended=0
        cuts=$((cuts + ${ended:-0}))
    done
    echo "$cuts" > "$dir/cuts"
}

clean=0 stored=0 refused_runs=0 twice=0 total_cuts=0 leaked=0
printf '%-5s %-7s %-10s %-9s %-6s %s\n' run status imported in-catalog cuts words
for run in $(seq 1 "$runs"); do
    rm -f "$dir/stop" "$dir/cuts"
    cutter &
    cutter_pid=$!
    start=$(date +%s.%N)
    set +e
    "$import" --quiet "$url" "cuts $run" "$dir/set" >"$dir/out" 2>"$dir/err"
    status=$?
    set -e
    touch "$dir/stop"
    wait "$cutter_pid"
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    cuts=$(cat "$dir/cuts")
    imported=$(sed -n 's/^imported \([0-9]*\) of.*/\1/p' "$dir/out")
    rows=$(sql "select count(*) from strvfile f join strvcategory c on f.categoryid=c.mid where c.displaytag='cuts $run'")
    distinct=$(sql "select count(distinct absolutepath) from strvfile f join strvcategory c on f.categoryid=c.mid where c.displaytag='cuts $run'")
    words=$(grep -v '^ovn-import: [0-9]* files were not imported:' "$dir/err" | grep -v '^  /' | head -n 1 | cut -c1-90 || true)
    [ "$status" -eq 0 ] && [ "${imported:-0}" -eq "$count" ] && clean=$((clean + 1))
    grep -q -e 'refused' -e 'not kept by the catalog' -e 'rolled back' "$dir/out" "$dir/err" && refused_runs=$((refused_runs + 1))
    grep -q -e 'FATAL' -e 'server closed the connection' "$dir/out" "$dir/err" && leaked=$((leaked + 1))
    stored=$((stored + distinct))
    twice=$((twice + rows - distinct))
    total_cuts=$((total_cuts + cuts))
    printf '%-5s %-7s %-10s %-9s %-6s %s (%.1f s)\n' "$run" "$status" "${imported:-?}" "$rows" "$cuts" "$words" "$seconds"
done
echo
echo "runs: $runs of $count files, sessions ended every $min_ms-$max_ms ms ($total_cuts cuts in all)"
echo "runs with status 0 and every file imported: $clean"
echo "files stored: $stored of $((runs * count)); stored twice: $twice"
echo "runs that refused or dropped a file while the server answered: $refused_runs"
echo "runs that printed the server's or libpq's own words: $leaked"
[ "$clean" -eq "$runs" ] && [ "$twice" -eq 0 ] && [ "$refused_runs" -eq 0 ] && [ "$leaked" -eq 0 ]
