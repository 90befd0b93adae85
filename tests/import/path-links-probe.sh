#!/usr/bin/env bash
# Links laid and raced at the first, a middle and the last element of a path, on every road that
# reads a path the user names (a file, a folder, a smart import, a re-scan, a record export) and on
# publish: this account's links are followed; another account's are named ("a link that belongs to
# another user; it is not followed") and what they lead to (this account's private picture) is never
# catalogued, re-read or written over, also while another account's loop exchanges a decoy folder
# with his link (40 runs per road).
# Needs root to lay links another account owns (status 77 otherwise).
# Usage: path-links-probe.sh OVN-IMPORT OVN-RECORDEXPORT OVN-PUBLISH
set -uo pipefail
import=$1 recordexport=$2 publish=$3
[ "$(id -u)" -eq 0 ] || { echo "probe: needs root to lay another account's links" >&2; exit 77; }
stranger=65534
dir=$(mktemp -d)
swapper=
trap '[ -n "$swapper" ] && kill "$swapper" 2>/dev/null; rm -rf "$dir"' EXIT
chmod 755 "$dir"
export XDG_CONFIG_HOME="$dir/config" QT_QPA_PLATFORM=offscreen OVN_VOLUME_ROOTS="$dir/vols"
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }
reason="a link that belongs to another user; it is not followed"
# A picture WIDTH wide: the private ones are 6 wide and dark, the decoys 4 wide and light.
picture() {
    local colour='\\346'
    [ "$2" = 6 ] && colour='\\040'
    mkdir -p "$(dirname "$1")"
    { printf 'P6\n%s 3\n255\n' "$2"; head -c $(($2 * 9)) /dev/zero | tr '\0' "$colour"; } > "$1"
}
private_catalogued() { sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile where imagewidth = 6"; }
# The thumbnail of the entry a re-scan reads again.
thumbnail() { sqlite3 "$dir/cat.sqlite" "select hex(thumbimage) from strvfile where absolutepath like '%/b/pic.ppm'" 2>/dev/null; }
top=$dir/vols/Card

# The user's private pictures (600 in a 700 folder), where the links lead; DIR/a/b/pic.ppm in
# folders open to all, beside a plain picture.
setup() {
    rm -rf "$dir/private" "$dir/vols" "$dir/cat.sqlite" "$dir/export.txt"
    picture "$dir/private/a/b/pic.ppm" 6
    picture "$dir/private/b/pic.ppm" 6
    picture "$dir/private/pic.ppm" 6
    chmod 700 "$dir/private"
    picture "$top/a/b/pic.ppm" 4
    picture "$top/plain.ppm" 4
    chmod 1777 "$top" "$top/a" "$top/a/b"
    printf 'v5.0 Canto(r) Cumulus(r) Record Export\r\n\r\nVolume-Name\tOrdnername\tAsset-Name\r\n%%Data\r\n' > "$dir/export.txt"
    printf 'Card\ta:b:\tpic.ppm\r\nCard\t\tplain.ppm\r\n' >> "$dir/export.txt"
}
# Lays the link at element $1 (first, middle, last) of DIR/a/b/pic.ppm, owned by $2.
lay() {
    local link target
    case "$1" in
        first) link=$top/a target=$dir/private/a ;;
        middle) link=$top/a/b target=$dir/private/b ;;
        last) link=$top/a/b/pic.ppm target=$dir/private/pic.ppm ;;
    esac
    rm -rf "$link"
    ln -s "$target" "$link"
    chown -h "$2" "$link"
}
run() {
    local road=$1 status=0
    case "$road" in
        file) "$import" "$dir/cat.sqlite" Shots "$top/a/b/pic.ppm" "$top/plain.ppm" ;;
        folder) "$import" "$dir/cat.sqlite" Shots "$top" ;;
        smart) "$import" --smart "$dir/cat.sqlite" Smart "$top" ;;
        recordexport) "$recordexport" "$dir/cat.sqlite" Export "$dir/export.txt" ;;
        rescan) "$import" --rescan "$dir/cat.sqlite" Shots ;;
    esac >"$dir/out" 2>&1 || status=$?
    return "$status"
}

# road | element | owner of the link
while IFS='|' read -r road where owner; do
    [ -n "$road" ] || continue
    name="$road, $owner's link at the $where element"
    uid=0
    [ "$owner" = his ] && uid=$stranger
    setup
    # A re-scan reads again what was catalogued before the link was laid.
    [ "$road" = rescan ] && "$import" "$dir/cat.sqlite" Shots "$top/a/b/pic.ppm" >/dev/null 2>&1
    before=$(thumbnail)
    lay "$where" "$uid"
    status=0
    run "$road" || status=$?
    # What the road read: a new entry, or for a re-scan the entry's new thumbnail.
    read=$(private_catalogued)
    [ "$road" = rescan ] && { [ "$(thumbnail)" = "$before" ] && read=0 || read=1; }
    if [ "$owner" = mine ]; then
        [ "$read" -ge 1 ] || fail "$name: my link was not followed: $(head -c 300 "$dir/out")"
        grep -qF "$reason" "$dir/out" && fail "$name: my link is named as not followed"
    else
        [ "$read" = 0 ] || fail "$name: the private picture was read"
        grep -qF "$reason" "$dir/out" || fail "$name: the link is not named: $(head -c 300 "$dir/out")"
        [ "$status" = 1 ] || fail "$name: status $status, not 1"
    fi
    if [ "$road" != rescan ]; then
        plain=$(sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile where absolutepath like '%plain.ppm'")
        [ "$plain" -ge 1 ] || fail "$name: the plain picture was not catalogued: $(head -c 300 "$dir/out")"
    fi
done <<'TABLE'
file|first|mine
file|middle|mine
file|last|mine
file|first|his
file|middle|his
file|last|his
folder|first|mine
folder|middle|mine
folder|first|his
folder|middle|his
folder|last|his
smart|middle|mine
smart|first|his
smart|middle|his
smart|last|his
recordexport|middle|mine
recordexport|first|his
recordexport|middle|his
recordexport|last|his
rescan|middle|mine
rescan|first|his
rescan|middle|his
rescan|last|his
TABLE

# Raced: another account's loop exchanges the decoy folder DIR/a/b with his link to the private
# folder while the road runs, 40 times; the private picture is never catalogued.
cat > "$dir/swap.py" <<'PY'
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
one, other = os.fsencode(sys.argv[1]), os.fsencode(sys.argv[2])
while True:
    libc.renameat2(-100, one, -100, other, 2)
PY
for road in file folder smart recordexport rescan; do
    setup
    [ "$road" = rescan ] && "$import" "$dir/cat.sqlite" Shots "$top/a/b/pic.ppm" >/dev/null 2>&1
    ln -s "$dir/private/b" "$top/a/.b"
    chown -h "$stranger" "$top/a/.b"
    python3 "$dir/swap.py" "$top/a/b" "$top/a/.b" &
    swapper=$!
    won=0 decoys=0
    before=$(thumbnail)
    for attempt in $(seq 40); do
        run "$road"
        [ "$(private_catalogued)" = 0 ] || won=$((won + 1))
        [ "$road" = rescan ] && [ "$(thumbnail)" != "$before" ] && won=$((won + 1))
        sqlite3 "$dir/cat.sqlite" "delete from strvfile where imagewidth = 6"
    done
    decoys=$(sqlite3 "$dir/cat.sqlite" "select count(*) from strvfile where imagewidth = 4 and absolutepath like '%/b/pic.ppm'")
    kill "$swapper" 2>/dev/null
    wait "$swapper" 2>/dev/null
    swapper=
    [ "$won" = 0 ] || fail "$road, raced: the private picture was catalogued in $won of 40 runs"
    echo "raced $road: the private picture catalogued in $won of 40 runs ($decoys decoy entries)"
done

# Publish: into another account's own folder (in a folder open to all) whose link named like the
# gallery folder leads to the user's private gallery; into the shared folder itself, where he laid
# the same link; through his link in the middle of the path; and through a link of the user's own.
mkdir -p "$dir/plain"
picture "$dir/plain/plain.ppm" 4
rm -f "$dir/cat.sqlite"
"$import" "$dir/cat.sqlite" Shots "$dir/plain/plain.ppm" >/dev/null 2>&1
# case | destination | where the link is laid | its owner | published (0) or refused (1)
while IFS='|' read -r case destination link owner expected; do
    [ -n "$case" ] || continue
    rm -rf "$dir/shared" "$dir/private" "$dir/mine"
    mkdir -p "$dir/shared/his" "$dir/private/gallery" "$dir/mine"
    chmod 1777 "$dir/shared"
    chown "$stranger" "$dir/shared/his"
    chmod 755 "$dir/shared/his"
    echo MINE > "$dir/private/gallery/index.html"
    chmod 700 "$dir/private"
    uid=0
    [ "$owner" = his ] && uid=$stranger
    ln -s "$dir/private/gallery" "$dir/$link"
    chown -h "$uid" "$dir/$link"
    status=0
    "$publish" "$dir/cat.sqlite" Shots "$dir/$destination" >"$dir/out" 2>&1 || status=$?
    [ "$status" = "$expected" ] || fail "publish, $case: status $status, not $expected: $(head -c 300 "$dir/out")"
    if [ "$owner" = his ]; then
        [ "$(cat "$dir/private/gallery/index.html")" = MINE ] || fail "publish, $case: the private index.html was replaced"
        [ "$(ls -A "$dir/private/gallery")" = index.html ] || fail "publish, $case: written into the private gallery"
    else
        [ "$(cat "$dir/private/gallery/index.html")" != MINE ] || fail "publish, $case: my own link was not followed"
    fi
done <<'TABLE'
his own folder, his link last|shared/his|shared/his/Ostrevan PublishToWeb|his|0
shared folder, his link last|shared|shared/Ostrevan PublishToWeb|his|0
his link in the middle|shared/hislink/sub|shared/hislink|his|1
my own folder, my link last|mine|mine/Ostrevan PublishToWeb|mine|0
TABLE

# The same as an ordinary account: another account's own folder is refused, as export refuses it.
me=4242
rm -rf "$dir/shared" "$dir/private" "$dir/home"
mkdir -p "$dir/shared/his" "$dir/private/gallery" "$dir/home"
chmod 1777 "$dir/shared"
chown "$stranger" "$dir/shared/his"
echo MINE > "$dir/private/gallery/index.html"
chown -R "$me" "$dir/private" "$dir/home" "$dir/cat.sqlite"
chmod 700 "$dir/private"
ln -s "$dir/private/gallery" "$dir/shared/his/Ostrevan PublishToWeb"
chown -h "$stranger" "$dir/shared/his/Ostrevan PublishToWeb"
status=0
HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/config" setpriv --reuid="$me" --regid="$me" --clear-groups \
    "$publish" "$dir/cat.sqlite" Shots "$dir/shared/his" >"$dir/out" 2>&1 || status=$?
[ "$status" = 1 ] || fail "publish as an ordinary account into his own folder: status $status: $(head -c 300 "$dir/out")"
[ "$(cat "$dir/private/gallery/index.html")" = MINE ] || fail "publish as an ordinary account: index.html replaced"
[ "$(ls -A "$dir/private/gallery")" = index.html ] || fail "publish as an ordinary account: written into the gallery"

[ "$failures" -eq 0 ] && echo "path links probe: another account's links are followed nowhere in a path"
exit $((failures > 0))
