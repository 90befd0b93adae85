#!/usr/bin/env bash
# A second start brings the running program's catalog window to the front under a real window
# manager (Xvfb and openbox), also when that window was minimised and when none of the files the
# second start names is there. Skips (77) without xvfb-run, openbox or xdotool.
set -u
program=$1
for tool in xvfb-run openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The session minimises the catalog window before each second start and writes, per row, whether
# the window was shown afterwards and the program's window active ("shown active", "shown",
# "hidden").
cat >"$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
set -u
home=$1
export QT_QPA_PLATFORM=xcb HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/runtime
openbox >/dev/null 2>&1 &
manager=$!
# The window manager's own window says it is ready; under load that takes more than a moment.
for _ in $(seq 1 1200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break
    sleep 0.1
done
"$PROGRAM" -DBVendor Integrated >"$home/program.out" 2>&1 &
program=$!
catalog=$(timeout 300 xdotool search --sync --onlyvisible --name '^Asset Manager' | head -n 1)
if [ -z "$catalog" ]; then
    echo "no catalog window" >"$home/session.problem"
else
    # Managed and in front before the first row minimises it.
    for _ in $(seq 1 1200); do
        [ "$(xdotool getactivewindow 2>/dev/null)" = "$catalog" ] && break
        sleep 0.1
    done
    # name | arguments of the second start
    for row in "no files|" "a missing file|$home/absent.jpg"; do
        IFS='|' read -r name arguments <<<"$row"
        xdotool windowminimize --sync "$catalog"
        # shellcheck disable=SC2086 # the arguments are words on purpose
        timeout -k 5 30 "$PROGRAM" $arguments >/dev/null 2>&1
        state=hidden
        for _ in $(seq 1 1200); do
            if xdotool search --onlyvisible --name '^Asset Manager' | grep -qx "$catalog"; then
                state=shown
                # The catalog window in front, or the alert the missing file brings over it.
                [ "$(xdotool getactivewindow getwindowpid 2>/dev/null)" = "$program" ] && state="shown active"
                [ "$state" = "shown active" ] && break
            fi
            sleep 0.1
        done
        echo "$name: $state" >>"$home/states"
        # The missing file's alert is answered, so that the next row starts from the window alone.
        for alert in $(xdotool search --onlyvisible --class ostrevan); do
            [ "$(xdotool getwindowname "$alert")" = Ostrevan ] || continue
            xdotool windowactivate --sync "$alert" 2>/dev/null
            sleep 0.3
            xdotool key Return
        done
        for _ in $(seq 1 1200); do
            alerts=0
            for alert in $(xdotool search --onlyvisible --class ostrevan); do
                [ "$(xdotool getwindowname "$alert")" = Ostrevan ] && alerts=1
            done
            [ "$alerts" = 0 ] && break
            sleep 0.1
        done
    done
fi
kill "$program" 2>/dev/null
wait "$program" 2>/dev/null
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
exit 0
SESSION
chmod +x "$work/session.sh"

home=$work/home
mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
PROGRAM=$program timeout -k 5 200 xvfb-run -a "$work/session.sh" "$home" >/dev/null 2>&1
if [ ! -f "$home/states" ] && [ ! -f "$home/session.problem" ]; then
    echo "skipped: no virtual display could be started"
    exit 77
fi
if [ -f "$home/session.problem" ]; then
    echo "FAIL: $(cat "$home/session.problem")" >&2
    cat "$home/program.out" >&2
    exit 1
fi
expected=$'no files: shown active\na missing file: shown active'
if [ "$(cat "$home/states")" != "$expected" ]; then
    echo "FAIL: after a second start the minimised catalog window was:" >&2
    cat "$home/states" >&2
    exit 1
fi
echo "second starts bring the catalog window to the front"
