#!/usr/bin/env bash
# The workflow panel's place under a real window manager (Xvfb and openbox): a place given on the
# command line (-WorkflowPanelX/-WorkflowPanelY) counts for that run only, so the preferences file
# keeps the place it held, whether the panel was moved or not; without it, the place the panel was
# moved to is saved when the program quits. Skips (77) without xvfb-run, openbox or xdotool.
set -u
program=$1
for tool in xvfb-run openbox xdotool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

# One run: the session starts the window manager and the program, moves the panel when asked, and
# quits the program with its shortcut from the catalog window.
cat >"$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
set -u
home=$1 move=$2
shift 2
export QT_QPA_PLATFORM=xcb HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/runtime
openbox >/dev/null 2>&1 &
manager=$!
sleep 1
"$PROGRAM" -DBVendor Integrated "$@" >"$home/program.out" 2>&1 &
program=$!
panel=$(timeout 300 xdotool search --sync --name '^Workflow$' | head -n 1)
catalog=$(timeout 300 xdotool search --sync --name '^Asset Manager' | head -n 1)
sleep 1
if [ "$move" = yes ] && [ -n "$panel" ]; then
    xdotool windowmove "$panel" 520 160
    # Until the window manager has placed it there (a loaded machine may take its time).
    for _ in $(seq 1 1200); do
        xdotool getwindowgeometry "$panel" | grep -q 'Position: 5[0-9][0-9],' && break
        sleep 0.1
    done
    sleep 0.5
fi
if [ -n "$catalog" ]; then
    xdotool windowactivate --sync "$catalog" 2>/dev/null
    sleep 0.5
    xdotool key --window "$catalog" ctrl+q 2>/dev/null
fi
for _ in $(seq 1 600); do
    kill -0 "$program" 2>/dev/null || break
    sleep 0.2
done
if kill -0 "$program" 2>/dev/null; then
    echo "the program did not quit" >"$home/session.problem"
    kill "$program"
fi
wait "$program"
echo $? >"$home/program.status"
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
exit 0
SESSION
chmod +x "$work/session.sh"

stored_place() { # prints "X Y" as the preferences file holds them
    local file=$1/.config/ostrevan/preferences.plist
    local x y
    x=$(grep -A1 '<key>WorkflowPanelX</key>' "$file" | sed -n 's/.*<real>\(.*\)<\/real>.*/\1/p; s/.*<integer>\(.*\)<\/integer>.*/\1/p')
    y=$(grep -A1 '<key>WorkflowPanelY</key>' "$file" | sed -n 's/.*<real>\(.*\)<\/real>.*/\1/p; s/.*<integer>\(.*\)<\/integer>.*/\1/p')
    echo "$x $y"
}

# name | arguments | move the panel | place expected in the file ("moved": anything but 30 40)
cases=(
    "given, moved|-WorkflowPanelX 200 -WorkflowPanelY 300|yes|30 40"
    "given, left where it was|-WorkflowPanelX 200 -WorkflowPanelY 300|no|30 40"
    "stored only, moved||yes|moved"
)
for row in "${cases[@]}"; do
    IFS='|' read -r name arguments move expected <<<"$row"
    home=$(mktemp -d "$work/home.XXXXXX")
    mkdir -p "$home/.config/ostrevan" "$home/runtime"
    chmod 700 "$home/runtime"
    cat >"$home/.config/ostrevan/preferences.plist" <<'PLIST'
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>DBVendor</key>
    <string>Integrated</string>
    <key>FirstRun</key>
    <string>NO</string>
    <key>WorkflowPanelVisible</key>
    <string>1</string>
    <key>WorkflowPanelX</key>
    <real>30</real>
    <key>WorkflowPanelY</key>
    <real>40</real>
</dict>
</plist>
PLIST
    # shellcheck disable=SC2086 # the arguments are words on purpose
    PROGRAM=$program timeout -k 5 90 xvfb-run -a "$work/session.sh" "$home" "$move" $arguments >/dev/null 2>&1
    if [ ! -f "$home/program.status" ]; then
        echo "skipped: no virtual display could be started"
        exit 77
    fi
    if [ -f "$home/session.problem" ] || [ "$(cat "$home/program.status")" != 0 ]; then
        echo "FAIL: $name: $(cat "$home/session.problem" 2>/dev/null) status $(cat "$home/program.status")" >&2
        cat "$home/program.out" >&2
        fail=1
        continue
    fi
    place=$(stored_place "$home")
    if [ "$expected" = moved ]; then
        if [ "$place" = "30 40" ] || [ "$place" = " " ]; then
            echo "FAIL: $name: the moved panel's place was not saved (file: $place)" >&2
            fail=1
        fi
    elif [ "$place" != "$expected" ]; then
        echo "FAIL: $name: the file holds $place, expected $expected" >&2
        fail=1
    fi
    for value in 200 300; do
        if grep -q "<real>$value</real>" "$home/.config/ostrevan/preferences.plist"; then
            echo "FAIL: $name: the command line's place ($value) reached the file" >&2
            fail=1
        fi
    done
done
[ "$fail" -eq 0 ] && echo "panel places as expected"
exit "$fail"
