#!/usr/bin/env bash
# Files dragged from another program onto the thumbnails of a catalog window, on a real X server
# (Xvfb) with a window manager (openbox); xdotool moves the pointer. The drag source is a small Qt
# program of its own process that offers a copy and a move, only a copy, or only a move, and prints
# what QDrag::exec answered: a Qt source answers what the window said while the pointer was over the
# thumbnails, before the drop's own answer arrives. Copy is answered only when the files were
# catalogued and the source offered a copy; nothing otherwise (the source must never hear a move,
# which would let it delete the files). Refused: a collection the user may only read, a collection
# another user deleted meanwhile, a user taken out of every group meanwhile, and files the file-type
# table does not import. The catalog is a server's, with users.
# Usage: drops-probe.sh CATALOG-WINDOW IMPORT USERS DRAG-SOURCE PG-TEST-SERVER
# Skips (77) without xvfb-run, openbox, xdotool or a PostgreSQL server.
set -uo pipefail
window=$1
import=$2
users=$3
source=$4
server=$5
for tool in xvfb-run openbox xdotool convert; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
env=$("$server" start) || { echo "skipped: no PostgreSQL server could be started"; exit 77; }
eval "$env"
dir=$(mktemp -d)
trap '"$server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1; rm -rf "$dir"' EXIT
chmod 755 "$dir"
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
sql() {
    as_owner "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres -d "$OVN_TEST_PG_DB" \
        -qAt -c "$1"
}
export PGPASSWORD=$OVN_TEST_PG_PASSWORD XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime"
mkdir -p "$dir/runtime" "$dir/files" "$dir/seed" && chmod 700 "$dir/runtime"
catalog="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
me=$(id -un)
admin_pw='Adm1nPw7'
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }

convert -size 32x24 xc:gray "$dir/seed/seed.jpg"
# Made while the catalog has no users.
for collection in Open Frozen Gone; do
    QT_QPA_PLATFORM=offscreen "$import" --quiet "$catalog" "$collection" "$dir/seed/seed.jpg" >/dev/null 2>&1 \
        || fail "no collection $collection"
done
manage() { printf '%s\n' "$admin_pw" | QT_QPA_PLATFORM=offscreen "$users" "$catalog" --login admin "$@" \
    >"$dir/out" 2>&1 || fail "ovn-users $*: $(cat "$dir/out")"; }
printf '%s\n' "$admin_pw" | QT_QPA_PLATFORM=offscreen "$users" "$catalog" first-run admin Admin >/dev/null 2>&1 \
    || fail "no first run"
manage add-user "$me"
manage group-privileges Viewers
manage add-member "$me" Viewers
mid() { sql "select mid from strvcategory where displaytag='$1'"; }
for collection in Open Frozen Gone; do
    grants=("FULL ACCESS")
    [ "$collection" = Frozen ] && grants+=("READ ONLY")
    for level in "${grants[@]}"; do
        QT_QPA_PLATFORM=offscreen "$users" "$catalog" --force grant "$(mid "$collection")" Viewers "$level" </dev/null \
            >"$dir/out" 2>&1 || fail "grant $collection $level: $(cat "$dir/out")"
    done
done
usermid=$(sql "select mid from strvusers where login='$me'")
groupmid=$(sql "select mid from strvgroups where name='Viewers'")
[ -n "$usermid" ] && [ -n "$groupmid" ] || { echo "probe: the catalog has no users" >&2; exit 1; }
[ "$failures" = 0 ] || exit 1

# One drop case a line: the collection shown, what happens to it once the window is open, the
# source's offer, the file's extension, what exec answers, whether the file is catalogued.
cat > "$dir/cases" <<'CASES'
Open|-|copy+move|jpg|copy|yes
Open|-|copy|jpg|copy|yes
Open|-|move|jpg|ignore|no
Open|-|copy+move|xyz|ignore|no
Open|-|copy|xyz|ignore|no
Open|-|move|xyz|ignore|no
Frozen|-|copy+move|jpg|ignore|no
Frozen|-|copy|jpg|ignore|no
Frozen|-|move|jpg|ignore|no
Gone|deleted|copy+move|jpg|ignore|no
Gone|deleted|copy|jpg|ignore|no
Gone|deleted|move|jpg|ignore|no
Open|no group|copy+move|jpg|ignore|no
Open|no group|copy|jpg|ignore|no
Open|no group|move|jpg|ignore|no
CASES

printf '#!/usr/bin/env bash\n%s\nas_owner "%s/psql" -h "%s" -p "%s" -U postgres -d "%s" -qAt -c "$1"\n' \
    "$(declare -f as_owner)" "$bindir" "$OVN_TEST_PG_SOCKET_DIR" "$OVN_TEST_PG_PORT" "$OVN_TEST_PG_DB" > "$dir/sql.sh"
chmod +x "$dir/sql.sh"

cat > "$dir/session.sh" <<SESSION
#!/usr/bin/env bash
set -u
export QT_QPA_PLATFORM=xcb
openbox >"$dir/openbox.log" 2>&1 &
for i in \$(seq 200); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.1; done
# Waits until the file holds the pattern (up to the seconds given); false when it never did.
await() { for i in \$(seq \$((\$3 * 10))); do grep -q "\$2" "\$1" 2>/dev/null && return 0; sleep 0.1; done; return 1; }
n=0
session=""
while IFS='|' read -r collection change offer extension answer catalogued; do
    key="\$collection|\$change"
    if [ "\$key" != "\$session" ]; then
        # A new window for the collection, left open while the catalog changes under it.
        [ -n "\$session" ] && { touch "$dir/done.\$w"; wait \$windowpid; }
        session=\$key
        w=\$((\${w:-0} + 1))
        "$window" "$catalog" --category "\$collection" --drops "$dir/done.\$w" > "$dir/window.\$w" 2>&1 &
        windowpid=\$!
        await "$dir/window.\$w" '^thumbnails ' 90 || { echo "window \$w: \$(cat "$dir/window.\$w")" >> "$dir/errors"; continue; }
        case "\$change" in
        deleted) QT_QPA_PLATFORM=offscreen "$window" "$catalog" --delete-category Gone >> "$dir/changes" 2>&1 \
            || echo "Gone was not deleted: \$(cat "$dir/changes")" >> "$dir/errors" ;;
        "no group") "$dir/sql.sh" "delete from strvgroupusers where usermid='$usermid'" ;;
        esac
        read -r _ tx ty < <(grep '^thumbnails ' "$dir/window.\$w")
    fi
    n=\$((n + 1))
    file="$dir/files/drop\$n.\$extension"
    convert -size 40x30 xc:orange "$dir/files/drop\$n.jpg"
    [ "\$extension" = jpg ] || mv "$dir/files/drop\$n.jpg" "\$file"
    "$source" "\$offer" "\$file" > "$dir/source.\$n" 2>&1 &
    sourcepid=\$!
    await "$dir/source.\$n" '^source ' 60 || { echo "case \$n: no source: \$(cat "$dir/source.\$n")" >> "$dir/errors"; kill \$sourcepid; continue; }
    read -r _ sx sy < "$dir/source.\$n"
    imported=\$(grep -c '^imported' "$dir/window.\$w")
    xdotool mousemove "\$sx" "\$sy" mousedown 1
    # Out of the source, across, and resting over the thumbnails long enough to hear their answer.
    for step in 1 2 3 4 5 6 7 8; do
        xdotool mousemove \$((sx + (tx - sx) * step / 8)) \$((sy + (ty - sy) * step / 8)) sleep 0.15
    done
    for step in 1 2 3 4 5 6; do xdotool mousemove \$((tx + step * 3)) \$((ty + step * 2)) sleep 0.2; done
    # The window has been told of the last place (its answer follows at once) before the button
    # comes up, however loaded the machine is.
    positions=\$(grep -c '^position' "$dir/window.\$w")
    xdotool mousemove \$((tx + 1)) \$((ty + 1))
    for i in \$(seq 300); do [ "\$(grep -c '^position' "$dir/window.\$w")" -gt "\$positions" ] && break; sleep 0.1; done
    sleep 1
    xdotool mouseup 1
    await "$dir/source.\$n" '^exec ' 60 || echo "case \$n: the drag did not end" >> "$dir/errors"
    wait \$sourcepid
    echo "\$n|\$(sed -n 's/^exec //p' "$dir/source.\$n")" >> "$dir/answers"
    # A catalogued drop's import is waited for before the next drag (its sheet comes and goes).
    if [ "\$catalogued" = yes ]; then
        for i in \$(seq 900); do [ "\$(grep -c '^imported' "$dir/window.\$w")" -gt "\$imported" ] && break; sleep 0.1; done
    fi
done < "$dir/cases"
[ -n "\$session" ] && { touch "$dir/done.\$w"; wait \$windowpid; }
SESSION
chmod +x "$dir/session.sh"
if ! timeout 600 xvfb-run -a -s "-screen 0 1280x1024x24" "$dir/session.sh"; then
    [ -s "$dir/answers" ] || { echo "skipped: no virtual display could be started"; exit 77; }
fi
[ -s "$dir/errors" ] && fail "$(cat "$dir/errors")"

n=0
while IFS='|' read -r collection change offer extension answer catalogued; do
    n=$((n + 1))
    name="$collection${change:+ ($change)}, $offer, .$extension"
    got=$(grep "^$n|" "$dir/answers" 2>/dev/null | cut -d'|' -f2)
    [ "$got" = "$answer" ] || fail "$name: the source heard '${got:-nothing}', expected '$answer'"
    stored=$(sql "select count(*) from strvfile where displaytag='drop$n.$extension'")
    [ "$stored" = "$([ "$catalogued" = yes ] && echo 1 || echo 0)" ] \
        || fail "$name: catalogued $stored times, expected $catalogued"
    [ -f "$dir/files/drop$n.$extension" ] || fail "$name: the dragged file is gone"
done < "$dir/cases"
if [ "$failures" -ne 0 ]; then
    for f in "$dir"/window.*; do echo "--- $f" >&2; cat "$f" >&2; done
    exit 1
fi
echo "every drop answered as catalogued: $n cases"
