#!/usr/bin/env bash
# tool-options-probe.sh COUNT TOOL...: each tool, run in an empty folder, answers --help and -h with
# its usage on standard output (status 0) and refuses an unknown option with its usage on standard
# error (status 2); none of these runs leaves anything behind, and none needs a display: they run
# with no DISPLAY or WAYLAND_DISPLAY and no Qt platform named. COUNT is how many tools the source
# tree has: every one of them must be here.
set -u
expected=$1
shift
[ "$#" -eq "$expected" ] || { echo "FAIL: $# tools built, $expected in the source tree"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for tool in "$@"; do
    name=$(basename "$tool")
    # arguments | status | where the usage goes
    while IFS='|' read -r args status stream; do
        dir="$work/$name-$status-$RANDOM"
        mkdir "$dir"
        # shellcheck disable=SC2086
        (cd "$dir" && timeout 300 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$tool" $args >"$work/out" 2>"$work/err" </dev/null)
        got=$?
        [ "$got" -eq "$status" ] || fail "$name $args: status $got, not $status ($(head -c 200 "$work/err"))"
        grep -qi "usage" "$work/$stream" || fail "$name $args: no usage on std$stream"
        if [ "$stream" = err ] && [ -s "$work/out" ]; then
            fail "$name $args: wrote to standard output: $(head -c 200 "$work/out")"
        fi
        [ -z "$(ls -A "$dir")" ] || fail "$name $args: left $(ls -A "$dir" | head -3 | tr '\n' ' ')"
    done <<'TABLE'
--help|0|out
-h|0|out
--no-such-option|2|err
OUT --no-such-option|2|err
TABLE
done

[ "$failures" -eq 0 ] || exit 1
echo "ok: $# tools"
