#!/usr/bin/env bash
# The catalog window's keys on a virtual display with a window manager (openbox), pressed from
# another process (xdotool) as a user would: Space in the thumbnail view shows the zoom panel and
# hides it again; Open in Full Screen (Ctrl+Shift+F) puts a picture, and a movie, on the whole
# screen every time (the window manager's _NET_WM_STATE says full screen, and the window covers
# the screen); Escape ends it. Skips (77) without xvfb-run, openbox, xdotool, xprop or convert.
# Arguments: the ostrevan program, ovn-import.
set -euo pipefail
program=$1
import=$2
for tool in xvfb-run openbox xdotool xprop xwininfo convert; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$HOME" "$work/runtime" "$work/media" && chmod 700 "$work/runtime"
# The first start makes the local catalog and quits; two pictures go into a collection.
QT_QPA_PLATFORM=offscreen timeout 300 "$program" -DBVendor Integrated -OVNQuitAfterStartup YES >/dev/null 2>&1
catalog=$(find "$HOME" -name 'MediaDB.sqlite' | head -1)
[ -n "$catalog" ] || { echo "no local catalog was made" >&2; exit 1; }
convert -size 800x600 xc:red "$work/media/a.jpg"
convert -size 800x600 xc:blue "$work/media/b.jpg"
QT_QPA_PLATFORM=offscreen "$import" "$catalog" Shots "$work/media/a.jpg" "$work/media/b.jpg" >/dev/null 2>&1

cat > "$work/session.sh" <<SESSION
#!/usr/bin/env bash
set -u
export QT_QPA_PLATFORM=xcb
openbox >/dev/null 2>&1 &
for i in \$(seq 200); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
"$program" -DBVendor Integrated -WorkflowPanelVisible 0 >"$work/app.log" 2>&1 &
app=\$!
note() { echo "\$*" >> "$work/result"; }
# Waits (up to 30 s) for a shown window of that name and prints its id.
find_window() {
    for i in \$(seq 300); do
        id=\$(xdotool search --onlyvisible --name "^\$1\\\$" 2>/dev/null | head -1)
        [ -n "\$id" ] && { echo "\$id"; return 0; }
        sleep 0.1
    done
    return 1
}
# Whether a shown window of that name is there, after up to 10 s for it to come or go.
shown_after() {
    for i in \$(seq 100); do
        if xdotool search --onlyvisible --name "^\$1\\\$" >/dev/null 2>&1; then [ "\$2" = yes ] && return 0
        else [ "\$2" = no ] && return 0; fi
        sleep 0.1
    done
    return 1
}
# The program's shown window that covers the whole screen with the window manager's full-screen
# state, if one comes within the seconds given.
full_screen_window() {
    for i in \$(seq \$((\$1 * 10 + 1))); do
        for id in \$(xdotool search --onlyvisible --class '^Ostrevan\$' 2>/dev/null); do
            xprop -id "\$id" _NET_WM_STATE | grep -q _NET_WM_STATE_FULLSCREEN || continue
            read -r w h < <(xwininfo -id "\$id" | awk '/Width:/ {w=\$2} /Height:/ {h=\$2} END {print w, h}')
            [ "\$w \$h" = "1280 800" ] && { echo "\$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}
main=\$(find_window "Asset Manager") || { note "no catalog window"; kill \$app; exit 0; }
xdotool windowactivate --sync "\$main" >/dev/null 2>&1 || true
eval "\$(xdotool getwindowgeometry --shell "\$main")"
# The collection in the category list, then its first thumbnail.
xdotool mousemove \$((X + 68)) \$((Y + 109)) click 1
sleep 2
xdotool mousemove \$((X + 262)) \$((Y + 102)) click 1
sleep 1
for step in shown hidden; do
    xdotool key --window "\$main" space
    if [ \$step = shown ]; then shown_after Zoom yes && note "space showed the zoom panel"
    else shown_after Zoom no && note "space hid the zoom panel"; fi
done
# The command key to the catalog window; Escape as a keyboard types it (XTEST), to the window that
# has the focus: the full-screen window, which must have taken it. A press that brought nothing is
# made again, twice at most (the first key to a window just activated may be lost).
for try in 1 2 3 4 5; do
    fs=
    for press in 1 2 3; do
        xdotool windowactivate --sync "\$main" >/dev/null 2>&1 || true
        xdotool key --window "\$main" ctrl+shift+f
        fs=\$(full_screen_window 5) && break
    done
    if [ -n "\$fs" ]; then
        note "full screen \$try"
        sleep 1
        xdotool key Escape
        for i in \$(seq 50); do full_screen_window 0 >/dev/null || break; sleep 0.1; done
        full_screen_window 0 >/dev/null && { note "Escape did not end full screen at try \$try"; break; }
    else
        note "no full screen at try \$try"
        for id in \$(xdotool search --onlyvisible --class '^Ostrevan\$' 2>/dev/null); do
            note "  shown: \$(xwininfo -id "\$id" | awk '/Width:/ {w=\$2} /Height:/ {h=\$2} END {print w "x" h}')" \
                "\$(xprop -id "\$id" _NET_WM_STATE)"
        done
        break
    fi
done
kill \$app 2>/dev/null
wait \$app 2>/dev/null
SESSION
chmod +x "$work/session.sh"
if ! timeout 500 xvfb-run -a -s "-screen 0 1280x800x24" "$work/session.sh"; then
    [ -s "$work/result" ] || { echo "skipped: no virtual display could be started"; exit 77; }
fi

result=$(cat "$work/result" 2>/dev/null || true)
fail() { echo "$1: $result" >&2; tail -5 "$work/app.log" >&2; exit 1; }
grep -qx "space showed the zoom panel" <<<"$result" || fail "Space did not show the zoom panel"
grep -qx "space hid the zoom panel" <<<"$result" || fail "Space did not hide the zoom panel"
[ "$(grep -c '^full screen' <<<"$result")" = 5 ] || fail "Open in Full Screen did not always fill the screen"
echo "Space showed and hid the zoom panel; Open in Full Screen filled the screen five times of five"
