#!/usr/bin/env bash
# The zoom panel on a virtual display with a window manager (openbox), driven from another process
# (xdotool) as a user's mouse would: the panel opens from its shortcut without a frame, a drag in
# its middle moves it by the drag, a drag from its bottom-right corner resizes it with the top-left
# corner kept. Skips (77) without xvfb-run, openbox, xdotool or xprop.
# Argument: the ostrevan program.
set -euo pipefail
program=$1
for tool in xvfb-run openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$work/runtime" && chmod 700 "$work/runtime"
# The first start makes the local catalog and quits.
QT_QPA_PLATFORM=offscreen timeout 300 "$program" -DBVendor Integrated -OVNQuitAfterStartup YES >/dev/null 2>&1

cat > "$work/session.sh" <<SESSION
#!/usr/bin/env bash
set -u
export QT_QPA_PLATFORM=xcb
openbox >/dev/null 2>&1 &
"$program" -DBVendor Integrated >"$work/app.log" 2>&1 &
app=\$!
# Waits (up to 60 s) for a shown window of that name and prints its id.
find_window() {
    for i in \$(seq 600); do
        id=\$(xdotool search --onlyvisible --name "^\$1\\\$" 2>/dev/null | head -1)
        [ -n "\$id" ] && { echo "\$id"; return 0; }
        sleep 0.1
    done
    return 1
}
# The window's top-left corner and size as "X Y W H".
frame() { xdotool getwindowgeometry --shell "\$1" | awk -F= '{v[\$1]=\$2} END {print v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]}'; }
# Waits (up to 20 s) until the frame is the one given.
wait_frame() {
    for i in \$(seq 200); do [ "\$(frame "\$1")" = "\$2" ] && return 0; sleep 0.1; done
    return 1
}
main=\$(find_window "Asset Manager") || { echo "no catalog window" > "$work/result"; kill \$app; exit 0; }
xdotool windowactivate --sync "\$main" >/dev/null 2>&1 || true
# Openbox may keep the first key press from a window that is not focused yet; press until it shows.
zoom=
for i in \$(seq 10); do
    xdotool key --window "\$main" ctrl+alt+3
    zoom=\$(xdotool search --onlyvisible --name "^Zoom\\\$" 2>/dev/null | head -1)
    [ -n "\$zoom" ] && break
    sleep 1
done
[ -n "\$zoom" ] || { echo "no zoom panel" > "$work/result"; kill \$app; exit 0; }
xprop -id "\$zoom" _NET_FRAME_EXTENTS > "$work/extents" 2>&1
read -r x y w h <<< "\$(frame "\$zoom")"
echo "opened \$x \$y \$w \$h" > "$work/result"
# Moved: pressed in the middle, dragged by (-150, 120).
xdotool mousemove \$((x + w / 2)) \$((y + h / 3)) mousedown 1 mousemove \$((x + w / 2 - 50)) \$((y + h / 3 + 40)) \
    mousemove \$((x + w / 2 - 150)) \$((y + h / 3 + 120)) mouseup 1
if wait_frame "\$zoom" "\$((x - 150)) \$((y + 120)) \$w \$h"; then echo moved >> "$work/result"; fi
read -r x y w h <<< "\$(frame "\$zoom")"
# Resized: pressed 6 points inside the bottom-right corner, dragged by (80, 60).
xdotool mousemove \$((x + w - 6)) \$((y + h - 6)) mousedown 1 mousemove \$((x + w + 20)) \$((y + h + 20)) \
    mousemove \$((x + w + 74)) \$((y + h + 54)) mouseup 1
if wait_frame "\$zoom" "\$x \$y \$((w + 80)) \$((h + 60))"; then echo resized >> "$work/result"; fi
echo "last \$(frame "\$zoom")" >> "$work/result"
kill \$app 2>/dev/null
wait \$app 2>/dev/null
SESSION
chmod +x "$work/session.sh"
if ! timeout 500 xvfb-run -a -s "-screen 0 1400x900x24" "$work/session.sh"; then
    [ -s "$work/result" ] || { echo "skipped: no virtual display could be started"; exit 77; }
fi

result=$(cat "$work/result" 2>/dev/null || true)
grep -q '^opened' <<<"$result" || { echo "the panel did not open: $result" >&2; tail -5 "$work/app.log" >&2; exit 1; }
# No frame: the window manager adds no border or title bar around it.
grep -Eq '= 0, 0, 0, 0$|not found' "$work/extents" || { echo "the panel has a frame: $(cat "$work/extents")" >&2; exit 1; }
grep -qx moved <<<"$result" || { echo "a drag in the middle did not move the panel: $result" >&2; exit 1; }
grep -qx resized <<<"$result" || { echo "a drag from the corner did not resize the panel: $result" >&2; exit 1; }
echo "zoom panel frameless, moved and resized:"; echo "$result"
