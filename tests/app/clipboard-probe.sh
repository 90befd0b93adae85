#!/usr/bin/env bash
# Copy in one catalog window, Paste in another process on another catalog, through the X clipboard
# of a virtual display: another program (xclip) sees the files in selection order, and the paste
# imports them. Skips (77) without xvfb-run, xclip, convert or sqlite3.
set -euo pipefail
window=$1
import=$2
for tool in xvfb-run xclip convert sqlite3; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$work/media" "$work/runtime" && chmod 700 "$work/runtime"
for colour in red green blue white; do convert -size 64x48 "xc:$colour" "$work/media/$colour.jpg"; done
"$import" "$work/a.sqlite" Source "$work/media/red.jpg" "$work/media/green.jpg" "$work/media/blue.jpg" >/dev/null
"$import" "$work/b.sqlite" Target "$work/media/white.jpg" >/dev/null

cat > "$work/session.sh" <<SESSION
#!/usr/bin/env bash
set -u
# The real X clipboard, whatever platform the other tests run on.
export QT_QPA_PLATFORM=xcb
"$window" "$work/a.sqlite" --category Source --select blue.jpg,red.jpg --copy --stay 20 > "$work/copy.out" 2>&1 &
copier=\$!
for i in \$(seq 100); do grep -q '^copied' "$work/copy.out" 2>/dev/null && break; sleep 0.1; done
xclip -selection clipboard -o -t text/uri-list > "$work/uris.txt" 2> "$work/xclip.err"
timeout 300 "$window" "$work/b.sqlite" --category Target --paste > "$work/paste.out" 2>&1
echo \$? > "$work/paste.status"
kill \$copier 2>/dev/null
wait
SESSION
chmod +x "$work/session.sh"
if ! timeout 500 xvfb-run -a "$work/session.sh"; then
    if [ ! -s "$work/copy.out" ]; then echo "skipped: no virtual display could be started"; exit 77; fi
fi

grep -q '^copied 2$' "$work/copy.out" || { echo "copy said: $(cat "$work/copy.out")" >&2; exit 1; }
expected=$(printf 'file://%s\nfile://%s' "$work/media/blue.jpg" "$work/media/red.jpg")
[ "$(tr -d '\r' < "$work/uris.txt")" = "$expected" ] || { echo "xclip saw: $(cat "$work/uris.txt" "$work/xclip.err")" >&2; exit 1; }
grep -q '^pasted 2$' "$work/paste.out" && [ "$(cat "$work/paste.status")" = 0 ] \
    || { echo "paste said: $(cat "$work/paste.out")" >&2; exit 1; }
names=$(sqlite3 "$work/b.sqlite" "select displaytag from strvfile order by displaytag" | tr '\n' ' ')
[ "$names" = "blue.jpg red.jpg white.jpg " ] || { echo "the target holds: $names" >&2; exit 1; }
# The source catalog keeps its entries where they were.
[ "$(sqlite3 "$work/a.sqlite" "select count(*) from strvfile")" = 3 ] || { echo "the source changed" >&2; exit 1; }
echo "xclip saw the files in selection order; the paste imported them"
