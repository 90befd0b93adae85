#!/usr/bin/env bash
# ovn-users against a private PostgreSQL server that logs every statement with its parameters: each
# action answers as expected, and no password shows up in the server's log or in any output.
# Usage: ovn-users-probe.sh OVN-USERS PG-TEST-SERVER
set -uo pipefail
tool=$1
server=$2

env=$("$server" start) || { echo "probe: no PostgreSQL server could be started" >&2; exit 77; }
eval "$env"
trap '"$server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1' EXIT
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
as_owner "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres -d postgres -q \
    -c "alter system set log_statement = 'all'" -c "alter system set log_parameter_max_length = -1" \
    -c "select pg_reload_conf()" >/dev/null || exit 1
sleep 0.5

export PGPASSWORD=$OVN_TEST_PG_PASSWORD QT_QPA_PLATFORM=offscreen
catalog="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
out=$(mktemp -d)
admin_pw='Adm1nPw7'
bob_pw='B0bSecr3'
failures=0
# expected-line-prefix  stdin  action...
check() {
    local expect=$1 input=$2
    shift 2
    local line
    line=$(printf '%s\n' "$input" | "$tool" "$catalog" "$@" 2>>"$out/stderr" | tee -a "$out/stdout")
    case "$line" in
        "$expect"*) ;;
        *) echo "probe: ovn-users $*: expected '$expect...', got '$line'" >&2; failures=$((failures + 1)) ;;
    esac
}
# The administrator is this account's own catalog user: the tool changes users as it.
me=$(id -un)
# A category to grant on, made through the catalog as another client would.
make_category() {
    as_owner "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres \
        -d "$OVN_TEST_PG_DB" -qAt -c "insert into strvcategory (mid, displaytag, type, supermid, comment) values ('probe-1', 'Shots', 'M', '', '{SURVEILLANCEFOLDER = \"/srv/shots\";}') returning mid"
}
check "refused: user management is not set up" "$admin_pw" login "$me"
check "refused: A password is needed" "" first-run "$me" "Jane Doe"
check "ok:" "$admin_pw" first-run "$me" "Jane Doe"
check "ok:" "$admin_pw" login "$me"
check "refused: Wrong login" "wrong" login "$me"
check "refused: Wrong login" "" login "$me"
# A change needs the manager's password first.
check "refused: Wrong login" "wrong" add-user bob
check "ok: user bob added (catalog id " "$admin_pw" add-user bob
check "refused: Login already in use" "$admin_pw" add-user bob
check "refused: Nobody could manage users" "$admin_pw" delete-user "$me"
check "refused: Nobody could manage users" "$admin_pw" delete-group Admin
check "refused: Nobody could manage users" "$admin_pw" remove-member "$me" Admin
check "refused: Nobody could manage users" "$admin_pw" group-privileges Admin "WEB ACCESS"
check "ok: group Staff made; it has no privileges" "$admin_pw" group-privileges Staff
check "ok: member: bob is in the group Staff" "$admin_pw" add-member bob Staff
check "refused: User is already member" "$admin_pw" add-member bob Staff
check "refused: A password is needed" "$admin_pw" password bob
check "ok:" "$admin_pw"$'\n'"$bob_pw" password bob
check "refused: Wrong login" "$bob_pw" login bob
# bob may not manage users: he can neither join Admin nor give his group the privilege.
check "refused: Wrong login" "$bob_pw" --login bob add-member bob Admin
check "refused: Wrong login" "$bob_pw" --login bob group-privileges Staff "MANAGE USERS"

category=$(make_category)
check "ok:" "" grant "$category" Admin "FULL ACCESS"
check "ok:" "" grant "$category" Staff "READ ONLY"
# Another login's level is for a manager, logged in with his password.
check "level: READ ONLY" "$admin_pw" level "$category" bob
# A level that is none of the four is refused with their names and status 1; nothing is stored.
for level in "READ WRITE" "read only" ""; do
    check "refused: no level is named \"$level\"; the levels are \"NO ACCESS\", \"READ ONLY\", \"READ & WRITE\", \"FULL ACCESS\"" \
        "" grant "$category" Staff "$level"
    status=0
    "$tool" "$catalog" grant "$category" Staff "$level" </dev/null >/dev/null 2>&1 || status=$?
    [ "$status" = 1 ] || { echo "probe: grant of \"$level\": status $status, not 1" >&2; failures=$((failures + 1)); }
done
check "level: READ ONLY" "$admin_pw" level "$category" bob
check "refused: Wrong login" "wrong" level "$category" bob
check "level: FULL ACCESS" "" level "$category" "$me"
check "ok:" "" grant "$category" Staff "NO ACCESS"
check "level: NO ACCESS" "$admin_pw" level "$category" bob
check "level: NO ACCESS" "$admin_pw" level "$category" anonymous
# Giving away one's own full access is refused with the privileges window's warning, the list as it
# was; told to go on, it is saved, and after it nothing more.
check "refused: You will lose full access to this item" "" grant "$category" Admin "READ ONLY"
check "level: FULL ACCESS" "" level "$category" "$me"
check "ok:" "" --force grant "$category" Admin "READ ONLY"
check "refused: Authorization Failed" "" grant "$category" Admin "FULL ACCESS"
check "ok:" "$admin_pw" add-member bob Admin
check "ok:" "$bob_pw" --login bob delete-user "$me"
check "ok:" "$bob_pw" login bob
# Without a catalog user of its own, the account is refused as the program refuses it at start-up.
check "refused: The account “$me” is not a user of this catalog" "" grant "$category" Staff "READ & WRITE"
check "refused: The account “$me” is not a user of this catalog" "" level "$category" bob
comment=$(as_owner "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres \
    -d "$OVN_TEST_PG_DB" -qAt -c "select comment from strvcategory where mid='probe-1'")
case "$comment" in
    *"<?xml"*SURVEILLANCEFOLDER*/srv/shots*) ;;
    *) echo "probe: the comment lost its folder or is not XML: $comment" >&2; failures=$((failures + 1)) ;;
esac

grep -q "insert into strvusers" "$OVN_TEST_PG_DIR/server.log" \
    || { echo "probe: the server did not log the statements" >&2; failures=$((failures + 1)); }
for pw in "$admin_pw" "$bob_pw"; do
    if grep -rqF -- "$pw" "$OVN_TEST_PG_DIR/server.log" "$out"; then
        echo "probe: a password shows up in the server log or the output" >&2
        failures=$((failures + 1))
    fi
done
rm -rf "$out"
[ "$failures" -eq 0 ] && echo "ovn-users probe: all answers as expected, no password in the log"
exit $((failures > 0))
