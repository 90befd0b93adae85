#!/usr/bin/env bash
# ovn-import as a catalog user whose right to write is withdrawn while the import runs (taken out of
# his only group, or lowered to READ ONLY): it stops at its next batch with status 1, keeps what it
# stored before, stores nothing after the change, and names every file it did not import.
# The change comes at a fixed row: a trigger on the entries holds the import's session at that row
# on a lock that an administrator's session keeps until its change is committed.
# Usage: ovn-import-withdrawn-probe.sh OVN-IMPORT OVN-USERS PG-TEST-SERVER
set -uo pipefail
import=$1
users=$2
server=$3

env=$("$server" start) || { echo "probe: no PostgreSQL server could be started" >&2; exit 77; }
eval "$env"
dir=$(mktemp -d)
holder=""
cleanup() {
    [ -n "$holder" ] && kill "$holder" 2>/dev/null
    "$server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1
    rm -rf "$dir"
}
trap cleanup EXIT
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
psql_admin() {
    as_owner "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres -d "$OVN_TEST_PG_DB" \
        -qAt -v ON_ERROR_STOP=1 "$@"
}
sql() { psql_admin -c "$1"; }
export PGPASSWORD=$OVN_TEST_PG_PASSWORD QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$dir/config"
catalog="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
me=$(id -un)
admin_pw='Adm1nPw7'
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }

files=20
batch=4
hold_at=7 # the row at which the import waits for the change
mkdir -p "$dir/files"
for n in $(seq -w 1 "$files"); do
    { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' "\\$((100 + 10#$n))"; } >"$dir/files/img$n.ppm"
done

# The catalog, then its users: this account's user alone in Staff. "Low" holds the privilege list
# that lowers Staff to READ ONLY, granted while this account still has full access on it.
"$import" --quiet "$catalog" Low "$dir/files/img01.ppm" >/dev/null 2>&1 || { echo "probe: no catalog" >&2; exit 1; }
manage() {
    printf '%s\n' "$admin_pw" | "$users" "$catalog" --login admin "$@" >"$dir/out" 2>&1 \
        || fail "ovn-users $*: $(cat "$dir/out")"
}
printf '%s\n' "$admin_pw" | "$users" "$catalog" first-run admin Admin >/dev/null 2>&1 || fail "no first run"
manage add-user "$me"
manage group-privileges Staff
manage add-member "$me" Staff
low=$(sql "select mid from strvcategory where displaytag='Low'")
"$users" "$catalog" --force grant "$low" Staff "READ ONLY" </dev/null >"$dir/out" 2>&1 || fail "grant: $(cat "$dir/out")"

# At the hold row of a collection, its insert waits for lock 4711 until the administrator lets go.
psql_admin >/dev/null <<SQL || { echo "probe: the trigger could not be made" >&2; exit 1; }
create function hold_import() returns trigger language plpgsql as \$\$
begin
    if (select count(*) from strvfile where categoryid = new.categoryid) = $hold_at then
        perform pg_advisory_xact_lock(4711);
    end if;
    return new;
end \$\$;
create trigger hold_import after insert on strvfile for each row execute function hold_import();
SQL
waiting_for_lock() {
    [ "$(sql "select count(*) from pg_locks where locktype='advisory' and objid=4711 and not granted")" != 0 ]
}
lock_held() {
    [ "$(sql "select count(*) from pg_locks where locktype='advisory' and objid=4711 and granted")" != 0 ]
}
# Polls a condition (the order of events, not their timing), for at most a minute.
until_true() {
    local tries=0
    until "$@"; do
        tries=$((tries + 1))
        [ "$tries" -lt 1200 ] || return 1
        sleep 0.1
    done
}

# name | the administrator's change | the reason in the stop's words
while IFS='|' read -r name change reason; do
    # The administrator's session takes the lock and keeps it until told to let go.
    mkfifo "$dir/admin"
    psql_admin <"$dir/admin" >/dev/null 2>&1 &
    holder=$!
    exec 7>"$dir/admin"
    echo "select pg_advisory_lock(4711);" >&7
    until_true lock_held || fail "$name: the administrator's session did not take the lock"

    "$import" --threads 2 --batch "$batch" "$catalog" "$name" "$dir/files" >"$dir/stdout" 2>"$dir/stderr" &
    importer=$!
    if until_true waiting_for_lock; then
        stored_before=$(sql "select count(*) from strvfile f join strvcategory c on f.categoryid=c.mid
                             where c.displaytag='$name'")
        sql "${change//NAME/$name}" || fail "$name: the change failed"
    else
        fail "$name: the import never reached row $hold_at: $(cat "$dir/stderr")"
        stored_before=-1
    fi
    echo "select pg_advisory_unlock(4711);" >&7
    exec 7>&-
    wait "$holder"
    holder=""
    rm -f "$dir/admin"
    status=0
    wait "$importer" || status=$?

    [ "$status" = 1 ] || fail "$name: status $status, not 1: $(cat "$dir/stderr")"
    grep -qF -- "$reason" "$dir/stderr" || fail "$name: the reason '$reason' is not given: $(cat "$dir/stderr")"
    mapfile -t stored < <(sql "select f.displaytag from strvfile f join strvcategory c on f.categoryid=c.mid
                                where c.displaytag='$name' order by 1")
    # The batches committed before the change stay; nothing after it, the held row included.
    [ "${#stored[@]}" = "$stored_before" ] \
        || fail "$name: ${#stored[@]} entries stored, $stored_before before the change"
    [ "${#stored[@]}" -ge "$batch" ] && [ "${#stored[@]}" -lt "$hold_at" ] \
        || fail "$name: ${#stored[@]} entries stored, not the batches before row $hold_at"
    left=$((files - ${#stored[@]}))
    grep -qx "ovn-import: $left files were not imported:" "$dir/stderr" \
        || fail "$name: not '$left files were not imported': $(cat "$dir/stderr")"
    grep -qF "The import stopped: what was stored before stays in the catalog, $left files were not imported." \
        "$dir/stderr" || fail "$name: the stop's message does not count $left files: $(cat "$dir/stderr")"
    # Each file either stored or named, once.
    named=$(grep -c '^  ' "$dir/stderr")
    [ "$named" = "$left" ] || fail "$name: $named files named, not $left"
    for n in $(seq -w 1 "$files"); do
        file="img$n.ppm"
        in_catalog=0
        for s in "${stored[@]}"; do [ "$s" = "$file" ] && in_catalog=1; done
        grep -qx "  $dir/files/$file" "$dir/stderr" && is_named=1 || is_named=0
        [ $((in_catalog + is_named)) = 1 ] || fail "$name: $file stored $in_catalog, named $is_named"
    done
    grep -q "^imported ${#stored[@]} of $files files" "$dir/stdout" \
        || fail "$name: the summary line: $(grep '^imported' "$dir/stdout")"
    # The summary counts the files it listed; the stop's words keep their line breaks and do not
    # say that nothing was changed, since the batches before it were stored.
    grep -q "^imported .*, $left listed with problems," "$dir/stdout" \
        || fail "$name: the summary does not count the $left files listed: $(grep '^imported' "$dir/stdout")"
    grep -qF 'Nothing was changed' "$dir/stderr" && fail "$name: says nothing was changed: $(cat "$dir/stderr")"
    grep -qF '\x0a' "$dir/stderr" && fail "$name: its own line breaks are escaped: $(cat "$dir/stderr")"
done <<CASES
lowered to READ ONLY|update strvcategory set comment=(select comment from strvcategory where displaytag='Low') where displaytag='NAME'|Requested Privilege: READ & WRITE
taken out of his only group|delete from strvgroupusers where usermid=(select mid from strvusers where login='$me')|belongs to no group
CASES

[ "$failures" -eq 0 ] && echo "ovn-import withdrawn probe: stopped at the next batch, status 1, every file accounted for"
exit $((failures > 0))
