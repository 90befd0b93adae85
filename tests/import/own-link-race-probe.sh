#!/usr/bin/env bash
# The user's own links in a group folder (2775) that another account of the group renames in: while
# that account exchanges the user's link to a public picture with the user's second link to his
# private one, imports of the name and exports into a linked folder name the link as not followed,
# (and web galleries and disc images made there) never catalogue the private picture nor write into
# the private folder. Outside the group
# folder (the user's own 0755 folder) the same link is followed.
# Run as root, to act as both accounts (status 77 otherwise).
# Usage: own-link-race-probe.sh OVN-IMPORT OVN-EXPORT [IMPORTS [EXPORTS [GALLERIES]]] (a full
# run: 1200 50 20; web galleries and disc images are made in the tools' folder as well).
set -uo pipefail
import=$1 export=$2 imports=${3:-40} exports=${4:-10} galleries=${5:-3}
tools=$(dirname "$export")
[ "$(id -u)" -eq 0 ] || { echo "probe: needs root to act as two accounts" >&2; exit 77; }
user=65533 attacker=65534
dir=$(mktemp -d)
swapper=
trap '[ -n "$swapper" ] && kill "$swapper" 2>/dev/null; rm -rf "$dir"' EXIT
chmod 755 "$dir"
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }
reason="a link that belongs to another user; it is not followed"
# A picture WIDTH wide: the private one is 6 wide, the public one 4.
picture() { { printf 'P6\n%s 3\n255\n' "$2"; head -c $(($2 * 9)) /dev/zero | tr '\0' 'x'; } > "$1"; }
as_user() { setpriv --reuid=$user --regid=$user --clear-groups env HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/config" \
    TMPDIR="$dir/home" QT_QPA_PLATFORM=offscreen "$@"; }
private_catalogued() { sqlite3 "$dir/home/cat.sqlite" "select count(*) from strvfile where imagewidth = 6"; }

mkdir -p "$dir/home" "$dir/private" "$dir/public/out" "$dir/group" "$dir/own"
picture "$dir/private/pic.ppm" 6
picture "$dir/public/pic.ppm" 4
chown -R $user:$user "$dir/home" "$dir/private" "$dir/public" "$dir/group" "$dir/own"
chmod 700 "$dir/private"
chmod 2775 "$dir/group"
# The user's links: the name he imports and exports to, and his second ones, to his private files.
for folder in group own; do
    ln -s "$dir/public/pic.ppm" "$dir/$folder/pic.ppm"
    ln -s "$dir/private/pic.ppm" "$dir/$folder/.pic.ppm"
    ln -s "$dir/public/out" "$dir/$folder/out"
    ln -s "$dir/private" "$dir/$folder/.out"
    chown -h $user:$user "$dir/$folder/pic.ppm" "$dir/$folder/.pic.ppm" "$dir/$folder/out" "$dir/$folder/.out"
done

# In his own folder the user's link is followed: the public picture is catalogued and exported.
as_user "$import" "$dir/home/cat.sqlite" Shots "$dir/own/pic.ppm" >"$dir/out" 2>&1 \
    || fail "own folder: the import failed: $(head -c 300 "$dir/out")"
as_user "$export" "$dir/home/cat.sqlite" Shots "$dir/own/out" >"$dir/out" 2>&1 \
    || fail "own folder: the export failed: $(head -c 300 "$dir/out")"
[ -n "$(ls -A "$dir/public/out")" ] || fail "own folder: nothing exported through the user's link"

# Without a race: the second link renamed over the name.
mv -f "$dir/group/.pic.ppm" "$dir/group/pic.ppm"
as_user "$import" "$dir/home/cat.sqlite" Shots "$dir/group/pic.ppm" >"$dir/out" 2>&1
grep -qF "$reason" "$dir/out" || fail "renamed over: the link is not named: $(head -c 300 "$dir/out")"
[ "$(private_catalogued)" = 0 ] || fail "renamed over: the private picture was catalogued"
ln -s "$dir/private/pic.ppm" "$dir/group/.pic.ppm"
ln -sfn "$dir/public/pic.ppm" "$dir/group/pic.ppm"
chown -h $user:$user "$dir/group/pic.ppm" "$dir/group/.pic.ppm"

# Raced: the other account of the group exchanges the two names of each pair without end.
cat > "$dir/swap.py" <<'PY'
import ctypes, os, sys
libc = ctypes.CDLL(None, use_errno=True)
pairs = [(os.fsencode(a), os.fsencode(b)) for a, b in zip(sys.argv[1::2], sys.argv[2::2])]
while True:
    for one, other in pairs:
        libc.renameat2(-100, one, -100, other, 2)
PY
# A python the other account may run (not one under root's home).
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3)
setpriv --reuid=$attacker --regid=$attacker --groups=$user "$python" "$dir/swap.py" \
    "$dir/group/pic.ppm" "$dir/group/.pic.ppm" "$dir/group/out" "$dir/group/.out" &
swapper=$!
named=0
for attempt in $(seq "$imports"); do
    as_user "$import" "$dir/home/cat.sqlite" Shots "$dir/group/pic.ppm" >"$dir/out" 2>&1
    grep -qF "$reason" "$dir/out" && named=$((named + 1))
done
caught=$(private_catalogued)
privatePath=$(sqlite3 "$dir/home/cat.sqlite" "select count(*) from strvfile where absolutepath like '%/private/%'")
for attempt in $(seq "$exports"); do
    as_user "$export" "$dir/home/cat.sqlite" Shots "$dir/group/out" >/dev/null 2>&1
done
for attempt in $(seq "$galleries"); do
    as_user "$tools/ovn-publish" "$dir/home/cat.sqlite" Shots "$dir/group/out" >/dev/null 2>&1
    as_user "$tools/ovn-burn" "$dir/group/out/disc$attempt.iso" "$dir/public/pic.ppm" >/dev/null 2>&1
done
kill -0 "$swapper" 2>/dev/null || fail "raced: the other account's loop did not run"
kill "$swapper" 2>/dev/null
wait "$swapper" 2>/dev/null
swapper=
[ "$caught" = 0 ] || fail "raced: the private picture was catalogued $caught times in $imports imports"
[ "$privatePath" = 0 ] || fail "raced: the private path was catalogued $privatePath times"
[ "$(ls -A "$dir/private")" = pic.ppm ] || fail "raced: exports wrote into the private folder: $(ls -A "$dir/private")"
[ "$named" = "$imports" ] || fail "raced: the link was named in $named of $imports imports"
echo "own links raced in a group folder: $caught private entries in $imports imports, $named named;" \
    "$exports exports, $galleries galleries and disc images, nothing in the private folder"
exit $((failures > 0))
