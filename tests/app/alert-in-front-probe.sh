#!/usr/bin/env bash
# A second start hands a file and a setting to the running program under a real window manager
# (Xvfb and openbox): the alert that the setting was not applied stands in front of the viewer
# window the file opened in, the topmost of the program's windows. Skips (77) without xvfb-run,
# openbox, xdotool or xprop.
set -u
program=$1
for tool in xvfb-run openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
set -u
home=$1
export QT_QPA_PLATFORM=xcb HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/runtime
openbox >/dev/null 2>&1 &
manager=$!
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
    timeout -k 5 120 "$PROGRAM" "$home/picture.ppm" -WorkflowPanelX 4321 >/dev/null 2>&1
    alert=""
    for _ in $(seq 1 1200); do
        for window in $(xdotool search --onlyvisible --class ostrevan 2>/dev/null); do
            [ "$(xdotool getwindowname "$window" 2>/dev/null)" = Ostrevan ] && alert=$window
        done
        [ -n "$alert" ] && break
        sleep 0.1
    done
    if [ -z "$alert" ]; then
        echo "no alert" >"$home/session.problem"
    else
        # Let the viewer map too, then read the stacking order, bottom to top.
        for _ in $(seq 1 1200); do
            [ "$(xdotool search --onlyvisible --class ostrevan 2>/dev/null | wc -l)" -ge 3 ] && break
            sleep 0.1
        done
        sleep 1
        ours=$(xdotool search --onlyvisible --class ostrevan 2>/dev/null)
        top=""
        for id in $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g'); do
            grep -qx "$((id))" <<<"$ours" && top=$((id))
        done
        names=""
        for id in $ours; do names="$names $(xdotool getwindowname "$id")|"; done
        if [ "$(wc -w <<<"$ours")" -lt 3 ]; then
            echo "without the viewer (windows:$names)" >"$home/states"
        elif [ "$top" = "$alert" ]; then
            echo "in front" >"$home/states"
        else
            echo "behind $(xdotool getwindowname "$top") (windows:$names)" >"$home/states"
        fi
    fi
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
{ printf 'P6\n64 48\n255\n'; head -c $((64 * 48 * 3)) /dev/zero | tr '\0' '\200'; } >"$home/picture.ppm"
PROGRAM=$program timeout -k 5 900 xvfb-run -a "$work/session.sh" "$home" >/dev/null 2>&1
if [ ! -f "$home/states" ] && [ ! -f "$home/session.problem" ]; then
    echo "skipped: no virtual display could be started"
    exit 77
fi
if [ -f "$home/session.problem" ]; then
    echo "FAIL: $(cat "$home/session.problem")" >&2
    cat "$home/program.out" >&2
    exit 1
fi
if [ "$(cat "$home/states")" != "in front" ]; then
    echo "FAIL: the alert about the settings not applied is $(cat "$home/states")" >&2
    exit 1
fi
echo "the alert stands in front of the viewer the second start opened"
