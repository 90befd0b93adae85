#!/usr/bin/env bash
# Starts the program, then starts it again while it runs: each second start must end by itself and
# say that the program is already running, whether or not either has a runtime folder. Files go to the running program (status 0); a start
# whose files are all missing does not claim to have handed any over. "-Key Value" settings cannot
# be applied to it: the second start names them and ends with status 1, and nothing of them
# reaches the preferences file.
set -u
program=$1
work=$(mktemp -d)
first=""
cleanup() {
    if [ -n "$first" ]; then
        kill "$first" 2>/dev/null
        wait "$first" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=offscreen
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
fail=0

# The first program starts without a runtime folder (as under su, some ssh logins or cron); the
# second starts find it with or without one.
env -u XDG_RUNTIME_DIR "$program" -DBVendor Integrated >"$work/first.out" 2>"$work/first.err" &
first=$!
# Its socket: an abstract one named by the account and the preferences file.
place=$(realpath -m "$XDG_CONFIG_HOME/ostrevan")/preferences.plist
socket="@ostrevan-open-$(id -u)-$(printf '%s' "$place" | sha256sum | cut -c1-16)"
listening() { grep -qF -- " $socket" /proc/net/unix; }
for _ in $(seq 1 1200); do
    listening && break
    kill -0 "$first" 2>/dev/null || break
    sleep 0.1
done
if ! listening; then
    echo "FAIL: the first program did not start listening" >&2
    cat "$work/first.err" >&2
    exit 1
fi
printf 'a picture' >"$work/picture.jpg"

# name | arguments | status expected | text expected on standard error
cases=(
    "no arguments||0|Ostrevan is already running"
    "a file|$work/picture.jpg|0|the files were handed to it"
    "a file, without a runtime folder|-u XDG_RUNTIME_DIR $work/picture.jpg|0|the files were handed to it"
    "settings|-DBHost elsewhere.example.org -ThumbnailSize 99|1|(-DBHost, -ThumbnailSize) were not applied"
    "a file and settings|$work/picture.jpg -WorkflowPanelX 4321|1|Quit the running Ostrevan"
    "only a missing file|$work/absent.jpg|0|its windows were brought to the front"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name arguments expected_status expected <<<"$row"
    # shellcheck disable=SC2086 # the arguments are words on purpose
    unset=()
    if [[ $arguments == "-u XDG_RUNTIME_DIR "* ]]; then
        unset=(-u XDG_RUNTIME_DIR)
        arguments=${arguments#-u XDG_RUNTIME_DIR }
    fi
    timeout -k 5 30 env "${unset[@]}" "$program" $arguments >/dev/null 2>"$work/second.err"
    status=$?
    if [ "$status" -ne "$expected_status" ]; then
        echo "FAIL: $name: status $status, expected $expected_status" >&2
        cat "$work/second.err" >&2
        fail=1
    elif ! grep -qF -- "$expected" "$work/second.err"; then
        echo "FAIL: $name: standard error lacks \"$expected\":" >&2
        cat "$work/second.err" >&2
        fail=1
    fi
    if ! kill -0 "$first" 2>/dev/null; then
        echo "FAIL: $name: the running program ended" >&2
        exit 1
    fi
done

kill "$first"
wait "$first" 2>/dev/null
first=""
prefs=$XDG_CONFIG_HOME/ostrevan/preferences.plist
for value in elsewhere.example.org 4321; do
    if grep -q "$value" "$prefs"; then
        echo "FAIL: a second start's setting ($value) reached the preferences file" >&2
        fail=1
    fi
done
[ "$fail" -eq 0 ] && echo "second starts as expected"
exit "$fail"
