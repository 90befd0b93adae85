#!/usr/bin/env bash
# The program's own command line answered before it starts: --help and --version print and end with
# status 0, an unknown option ends with status 2 naming it. None of them may open a display, make a
# catalog or write preferences, so each runs with no display at all and a fresh home folder.
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

# name | arguments | status | stream | text expected there
cases=(
    "help|--help|0|out|Usage: ostrevan"
    "short help after a setting|-DBVendor Integrated -h|0|out|--version"
    "version|--version|0|out|Ostrevan "
    "unknown option|--catalog x.sqlite|2|err|unknown option \"--catalog\""
)
for row in "${cases[@]}"; do
    IFS='|' read -r name arguments status stream expected <<<"$row"
    home=$(mktemp -d "$work/home.XXXXXX")
    # shellcheck disable=SC2086
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        timeout 300 "$program" $arguments >"$work/out" 2>"$work/err"
    got=$?
    if [ "$got" -ne "$status" ]; then
        echo "FAIL $name: status $got, expected $status; stderr: $(head -c 300 "$work/err")"
        fail=1
    elif ! grep -qF -- "$expected" "$work/$stream"; then
        echo "FAIL $name: \"$expected\" not on standard $stream: $(head -c 300 "$work/$stream")"
        fail=1
    elif [ -n "$(ls -A "$home")" ]; then
        echo "FAIL $name: the start left files in the home folder: $(cd "$home" && find . | head -5)"
        fail=1
    else
        echo "ok $name"
    fi
done
exit $fail
