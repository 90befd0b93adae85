#!/usr/bin/env bash
# import-signal-probe.sh TOOLDIR [STOPS] [FILES]: ovn-import into a catalog file, stopped by SIGTERM
# STOPS times (10 unless given) at moments spread over its work on FILES pictures (1000 unless given).
# Each stop ends with status 1, "stopped by a signal" and the summary line, never by a signal of
# its own (a crash); an import that finished before its signal says it imported every file, status 0.
set -u
tools=$(cd "$1" && pwd)
stops=${2:-10}
files=${3:-1000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME" "$work/files"
for n in $(seq 1 "$files"); do
    { printf 'P6\n160 120\n255\n'; head -c 57600 /dev/urandom; } > "$work/files/img$n.ppm"
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# One whole import first: the stops are spread over the time it takes.
start=$(date +%s.%N)
"$tools/ovn-import" --quiet "$work/catalog.ovn" whole "$work/files" >"$work/out" 2>"$work/err" \
    || { echo "FAIL: the whole import did not succeed: $(tail -3 "$work/err")"; exit 1; }
took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }')
echo "a whole import of $files files took ${took}s"
crashes=0 stopped=0 finished=0
for stop in $(seq 1 "$stops"); do
    # From the start to the end of the work, a different moment each time.
    delay=$(awk -v s="$stop" -v n="$stops" -v t="$took" 'BEGIN { printf "%.3f", t * s / (n + 1) }')
    "$tools/ovn-import" "$work/catalog.ovn" "run$stop" "$work/files" >"$work/out" 2>"$work/err" &
    pid=$!
    sleep "$delay"
    kill -TERM "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    if [ "$status" -gt 128 ]; then
        crashes=$((crashes + 1))
        fail "stop $stop (after ${delay}s): ended by signal $((status - 128)): $(tail -3 "$work/err")"
        continue
    fi
    if grep -q "stopped by a signal" "$work/err"; then
        stopped=$((stopped + 1))
        [ "$status" -eq 1 ] || fail "stop $stop: status $status after a stop"
        # Of the files listed by then: a stop while a folder is read counts what was listed.
        grep -q "^imported [0-9]* of [0-9]* files" "$work/out" || fail "stop $stop: no summary line: $(cat "$work/out")"
    elif grep -q "^imported $files of $files files" "$work/out"; then
        finished=$((finished + 1))
        [ "$status" -eq 0 ] || fail "stop $stop: finished with status $status"
    elif [ "$status" -ne 1 ] || ! grep -q "not imported" "$work/err"; then
        # Stopped before the import began: the files are named as not imported, status 1.
        fail "stop $stop: status $status, neither stopped nor finished: $(tail -3 "$work/err")"
    fi
done
echo "stops: $stops, stopped mid-way: $stopped, finished first: $finished, crashes: $crashes"
[ "$failures" -eq 0 ] || exit 1
echo "all stops ended with their words and status"
