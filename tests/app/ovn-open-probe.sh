#!/usr/bin/env bash
# ovn-open as other programs run it, in a home of its own: one line per file, and the desktop's
# application started without --dry-run (a stand-in that records its arguments).
set -euo pipefail
tool=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/data/applications" "$home/system" "$home/config"
ln -s /usr/share/mime "$home/system/mime"
cat > "$home/recorder" <<REC
#!/bin/sh
printf '%s\n' "\$@" > "$home/recorded"
REC
chmod +x "$home/recorder"
printf '[Desktop Entry]\nType=Application\nName=Reader\nExec=%s %%f\nMimeType=application/pdf;\n' "$home/recorder" \
    > "$home/data/applications/reader.desktop"
printf '[Desktop Entry]\nType=Application\nName=Ostrevan\nExec=ostrevan %%F\nMimeType=text/plain;\n' \
    > "$home/data/applications/ostrevan.desktop"
cd "$home"
printf '%%PDF-1.4\n' > 'a b.pdf'
echo text > t.txt
printf x > p.jpg
run() { HOME=$home XDG_DATA_HOME=$home/data XDG_DATA_DIRS=$home/system XDG_CONFIG_HOME=$home/config \
        XDG_CONFIG_DIRS=$home/etc "$tool" "$@"; }
out=$(run --dry-run p.jpg 'a b.pdf' t.txt gone.jpg || true)
expected="viewer image p.jpg
desktop reader.desktop a b.pdf
refused t.txt: Ostrevan itself is the application set to open \"t.txt\". Please choose another application for this kind of file in your desktop's settings.
missing gone.jpg: The file '$home/gone.jpg' was not found. Please make sure this volume is online and try again."
[ "$out" = "$expected" ] || { printf 'got:\n%s\nexpected:\n%s\n' "$out" "$expected" >&2; exit 1; }
[ ! -e recorded ] || { echo "--dry-run started an application" >&2; exit 1; }
run 'a b.pdf' > /dev/null
for i in $(seq 50); do [ -s recorded ] && break; sleep 0.1; done
[ "$(cat recorded)" = "$home/a b.pdf" ] || { echo "the application got: $(cat recorded 2>/dev/null)" >&2; exit 1; }
echo "ovn-open lines and launch as expected"
