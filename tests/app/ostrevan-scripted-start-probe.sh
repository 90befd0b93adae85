#!/usr/bin/env bash
# Starts the program with the quit-after-start-up switch where it cannot open its catalog: each
# start must end by itself with status 1 and say why on standard error, never wait for an answer.
# The wrong password needs the test server (OVN_TEST_PG_*); without it that row is skipped.
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
fail=0

# name | what the home folder holds | arguments | environment | text expected on standard error
cases=(
    "no server|empty|-DBVendor PostgreSQL -DBHost 127.0.0.1:1 -DBUser ostrevan -DBDatabase mediadb||Connection refused"
    "no connection for the vendor|empty|-DBVendor MySQL||the database vendor \"MySQL\""
    "catalog folder under a file|documents-file|-DBVendor Integrated||cannot be created"
    "catalog folder under a file, stored vendor|documents-file-stored|||cannot be created"
)
if [ -n "${OVN_TEST_PG_PORT:-}" ]; then
    cases+=("wrong password|empty|-DBVendor PostgreSQL -DBHost ${OVN_TEST_PG_HOST}:${OVN_TEST_PG_PORT} -DBUser ${OVN_TEST_PG_USER} -DBDatabase ${OVN_TEST_PG_DB} -DBPassword wrong-${OVN_TEST_PG_PASSWORD}||password authentication failed")
elif [ "${OVN_TEST_PG_REQUIRED:-0}" = 1 ]; then
    echo "FAIL: OVN_TEST_PG_REQUIRED is set but no test server is running" >&2
    fail=1
else
    echo "skipped: wrong password (no test server)"
fi

for row in "${cases[@]}"; do
    IFS='|' read -r name setup arguments environment expected <<<"$row"
    home=$(mktemp -d "$work/home.XXXXXX")
    mkdir -p "$home/.config/ostrevan" "$home/runtime"
    chmod 700 "$home/runtime"
    case $setup in
        documents-file) : >"$home/Documents" ;;
        documents-file-stored)
            : >"$home/Documents"
            cat >"$home/.config/ostrevan/preferences.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>DBVendor</key>
    <string>Integrated</string>
    <key>FirstRun</key>
    <string>NO</string>
</dict>
</plist>
PLIST
            ;;
    esac
    # shellcheck disable=SC2086 # the arguments are words on purpose
    env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/runtime" $environment \
        timeout -k 5 30 "$program" $arguments -OVNQuitAfterStartup YES >/dev/null 2>"$home/stderr"
    status=$?
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        echo "FAIL: $name: the program did not end by itself" >&2
        fail=1
    elif [ "$status" -ne 1 ]; then
        echo "FAIL: $name: status $status, expected 1" >&2
        fail=1
    elif ! grep -qF -- "$expected" "$home/stderr"; then
        echo "FAIL: $name: standard error does not say \"$expected\":" >&2
        cat "$home/stderr" >&2
        fail=1
    else
        echo "ok: $name"
    fi
done
# A start that is to show a category and quit once it is painted ends at once with status 1 when the
# catalog has no such category, also when it was given a file to open as well.
home=$(mktemp -d "$work/home.XXXXXX")
mkdir -p "$home/.config"
run() { env HOME="$home" XDG_CONFIG_HOME="$home/.config" timeout -k 2 5 "$program" -DBVendor Integrated "$@"; }
run -OVNQuitAfterStartup YES >/dev/null 2>&1
printf 'P6\n4 2\n255\n%024d' 0 >"$home/picture.ppm"
for arguments in "-OVNStartupCategory nosuch" "-OVNStartupCategory nosuch $home/picture.ppm"; do
    # shellcheck disable=SC2086 # the arguments are words on purpose
    run -OVNQuitAfterFirstPaint YES $arguments >/dev/null 2>"$home/stderr"
    status=$?
    if [ "$status" -ne 1 ]; then
        echo "FAIL: $arguments: status $status, expected 1 within 5 s" >&2
        fail=1
    elif ! grep -qF "the catalog has no category nosuch" "$home/stderr"; then
        echo "FAIL: $arguments: the unknown category is not named:" >&2
        cat "$home/stderr" >&2
        fail=1
    else
        echo "ok: $arguments"
    fi
done
exit $fail
