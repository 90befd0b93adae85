#!/usr/bin/env bash
# A catalog window left open on a server catalog with users while someone else acts: the
# administrator lowers this account's level (the window's delete is then refused and nothing goes),
# the server stops (opening a collection says so), and the program's start refuses this account
# once it is in no group or no catalog user at all.
# Usage: ovn-catalog-window-privileges-probe.sh OVN-CATALOG-WINDOW OVN-USERS OSTREVAN PG-TEST-SERVER
set -uo pipefail
window=$1
users=$2
program=$3
server=$4

env=$("$server" start) || { echo "probe: no PostgreSQL server could be started" >&2; exit 77; }
eval "$env"
trap '"$server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1; rm -rf "$out"' EXIT
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
sql() {
    as_owner "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres -d "$OVN_TEST_PG_DB" \
        -qAt -c "$1"
}
export PGPASSWORD=$OVN_TEST_PG_PASSWORD QT_QPA_PLATFORM=offscreen
catalog="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
out=$(mktemp -d)
me=$(id -un)
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }

printf 'Adm1nPw7\n' | "$users" "$catalog" first-run "$me" "Probe Admin" >/dev/null || fail "first run refused"
sql "insert into strvcategory (mid, displaytag, type, supermid, comment) values ('probe-1', 'Trip', 'C', '', '')" \
    || fail "no category"
"$users" "$catalog" grant probe-1 Admin "FULL ACCESS" >/dev/null || fail "first grant refused"

# Starts the window that waits for $1 before its other options; answers once it says it waits, or
# fails once it has ended without saying so. The output files are emptied here, before the start:
# the started window opens them only when it is scheduled, and a loaded machine may look at them
# first, finding the previous window's "waiting" there.
start_window() {
    local go=$1
    shift
    : >"$out/stdout"
    : >"$out/stderr"
    "$window" "$catalog" --wait-for "$go" "$@" >>"$out/stdout" 2>>"$out/stderr" &
    pid=$!
    # A ceiling far above a slow start only keeps a hung window from holding the probe forever.
    for _ in $(seq 1 1500); do
        grep -q '^waiting$' "$out/stdout" && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q '^waiting$' "$out/stdout" && return 0
    fail "the window did not come to wait: $(cat "$out/stderr")"
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 1
}

# The level goes down while the window stands open: its delete is refused, nothing goes.
if start_window "$out/go1" --delete-category Trip; then
    "$users" "$catalog" --force grant probe-1 Admin "READ & WRITE" >/dev/null || fail "lowering refused"
    touch "$out/go1"
    wait "$pid"
    # Refused by the tool's own check or by the window's: either asks the catalog after the wait.
    grep -Eq '^(not deleted|refused: Authorization Failed)' "$out/stdout" || fail "delete not refused: $(cat "$out/stdout")"
    cat "$out/stdout" "$out/stderr" | grep -q 'Your Privilege Level: READ & WRITE' \
        || fail "no privilege text: $(cat "$out/stderr")"
    [ "$(sql "select count(*) from strvcategory where mid='probe-1'")" = 1 ] || fail "the category went"
fi

# The server stops while the window stands open: opening the collection says it could not be read.
sql "update strvcategory set comment='' where mid='probe-1'"
if start_window "$out/go2" --category Trip --stay 0; then
    as_owner "$bindir/pg_ctl" -D "$OVN_TEST_PG_DIR/data" -m fast -w stop >/dev/null
    touch "$out/go2"
    wait "$pid"
    grep -q 'The entries of “Trip” could not be read.' "$out/stderr" || fail "no read failure: $(cat "$out/stderr")"
    as_owner "$bindir/pg_ctl" -D "$OVN_TEST_PG_DIR/data" -l "$OVN_TEST_PG_DIR/server.log" -w -t 120 \
        -o "-p $OVN_TEST_PG_PORT -k $OVN_TEST_PG_SOCKET_DIR -c listen_addresses=127.0.0.1" start >/dev/null \
        || fail "the server did not start again"
fi

# What an open window lists once the administrator has changed something meanwhile: the entry of
# a collection it could read, then none once the collection is granted only to another group, then
# it again once the privileges are gone.
sql "insert into strvfile (mid, categoryid, displaytag, absolutepath, filedts, dts)
     values ('probe-e1', 'probe-1', 'harbour.jpg', '/nowhere/harbour.jpg', now(), now())" \
    || fail "no entry"
sql "insert into strvgroups (mid, name, comment, xml) values ('probe-g2', 'Others', '', '')" || fail "no second group"
others='<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>PRIVILEGES</key><array><dict><key>group</key><string>Others</string><key>mid</key><string>probe-g2</string><key>privilege</key><string>FULL ACCESS</string></dict></array></dict></plist>'
changes=("update strvcategory set comment='$others' where mid='probe-1'"
    "update strvcategory set comment='' where mid='probe-1'")
lists=("listed 0 " "listed 1 harbour.jpg ")
for i in 0 1; do
    if start_window "$out/list$i" --category Trip --list; then
        sql "${changes[$i]}"
        touch "$out/list$i"
        wait "$pid"
        listed=$(sed -n '/^listed /,$p' "$out/stdout" | tr '\n' ' ')
        [ "$listed" = "${lists[$i]}" ] || fail "after \"${changes[$i]}\" the window listed \"$listed\""
    fi
done

# Taken out of every group while the window stands open: its New Collection and its Export of the
# collection's entry are refused in the start-up's words; no collection is made, no file written.
sql "create table probe_members as select * from strvgroupusers" || fail "memberships not kept"
options=("--new-collection Mine" "--export $out/exported")
for i in 0 1; do
    # shellcheck disable=SC2086
    if start_window "$out/left$i" --category Trip ${options[$i]}; then
        sql "delete from strvgroupusers"
        touch "$out/left$i"
        wait "$pid"
        status=$?
        [ "$status" = 1 ] || fail "${options[$i]} in no group: status $status"
        grep -q '^refused: You can no longer use this catalog: The catalog user .* belongs to no group' "$out/stdout" \
            || fail "${options[$i]} in no group: $(cat "$out/stdout")"
        sql "insert into strvgroupusers select * from probe_members"
    fi
done
[ "$(sql "select count(*) from strvcategory where displaytag='Mine'")" = 0 ] || fail "a collection was made"
[ -z "$(ls -A "$out/exported" 2>/dev/null)" ] || fail "files were exported"

# The program's scripted start: let in while in a group; refused, with status 1 and the reason,
# once in no group and once no catalog user at all.
start_program() {
    local home
    home=$(mktemp -d -p "$out")
    HOME=$home XDG_CONFIG_HOME=$home/.config timeout 300 "$program" -DBVendor PostgreSQL \
        -DBHost "$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT" -DBUser "$OVN_TEST_PG_USER" -DBDatabase "$OVN_TEST_PG_DB" \
        -OVNQuitAfterStartup YES >/dev/null 2>"$out/program"
}
start_program || fail "a catalog user in a group was refused ($?): $(cat "$out/program")"
sql "delete from strvgroupusers where usermid=(select mid from strvusers where login='$me')"
start_program
status=$?
[ "$status" = 1 ] || fail "a user in no group started with status $status"
grep -q 'belongs to no group' "$out/program" || fail "no reason for the user in no group: $(cat "$out/program")"
sql "delete from strvusers where login='$me'"
start_program
status=$?
[ "$status" = 1 ] || fail "an account that is no catalog user started with status $status"
grep -q 'is not a user of this catalog' "$out/program" || fail "no reason for the stranger: $(cat "$out/program")"

[ "$failures" -eq 0 ] && echo "catalog window privileges probe: refusals and outages as expected"
exit $((failures > 0))
