#!/usr/bin/env bash
# The command-line tools on a server catalog as this account's own catalog user, which holds READ
# ONLY on the categories: each writing action is refused with the program's privilege text and a
# status that is not 0, and the catalog is left exactly as it was. $USER names nobody: setting it
# to a user who could write changes nothing. A user who may write still can.
# Usage: tools-read-only-probe.sh OVN-IMPORT OVN-AUTOFILL OVN-EXPRESS OVN-USERS OVN-CATALOG-WINDOW
#                                 PG-TEST-SERVER
set -uo pipefail
import=$1
autofill=$2
express=$3
users=$4
window=$5
server=$6

env=$("$server" start) || { echo "probe: no PostgreSQL server could be started" >&2; exit 77; }
eval "$env"
dir=$(mktemp -d)
trap '"$server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1; rm -rf "$dir"' EXIT
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
as_owner() { if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
sql() {
    as_owner "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres -d "$OVN_TEST_PG_DB" \
        -qAt -c "$1"
}
export PGPASSWORD=$OVN_TEST_PG_PASSWORD QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$dir/config"
catalog="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
me=$(id -un)
admin_pw='Adm1nPw7'
editor_pw='Ed1torPw'
mkdir "$dir/files" "$dir/watched"
for n in 1 2 3 4; do
    { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/files/img$n.ppm"
done
cp "$dir/files/img1.ppm" "$dir/files/img2.ppm" "$dir/watched/"
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }

# Made while the catalog has no users, when everyone may do everything.
"$import" --quiet "$catalog" Shots "$dir/files" >/dev/null 2>&1 || fail "the first import failed"
"$import" --quiet --smart "$catalog" Cards "$dir/files" >/dev/null 2>&1 || fail "the first smart import failed"
"$window" "$catalog" --new-surveillance-folder "$dir/watched" >/dev/null 2>&1 || fail "no surveillance folder"
shots=$(sql "select mid from strvcategory where displaytag='Shots'")
cards=$(sql "select mid from strvcategory where displaytag='Cards' and type='F'")
watched=$(sql "select displaytag from strvcategory where type='M'")
watchedId=$(sql "select mid from strvcategory where type='M'")

# An administrator who is not this account; this account's user in Viewers, an editor in Editors.
manage() { printf '%s\n' "$@" | "$users" "$catalog" --login admin "${args[@]}" >"$dir/out" 2>&1 \
    || fail "ovn-users ${args[*]}: $(cat "$dir/out")"; }
printf '%s\n' "$admin_pw" | "$users" "$catalog" first-run admin Admin >/dev/null 2>&1 || fail "no first run"
args=(add-user "$me"); manage "$admin_pw"
args=(group-privileges Viewers); manage "$admin_pw"
args=(add-member "$me" Viewers); manage "$admin_pw"
args=(add-user editor); manage "$admin_pw"
args=(password editor); manage "$admin_pw" "$editor_pw"
args=(group-privileges Editors); manage "$admin_pw"
args=(add-member editor Editors); manage "$admin_pw"
# The account grants while it still holds full access, ending with READ ONLY for itself.
for category in "$shots" "$cards" "$watchedId"; do
    for grant in "Viewers|FULL ACCESS" "Editors|READ & WRITE" "Viewers|READ ONLY"; do
        "$users" "$catalog" grant "$category" "${grant%%|*}" "${grant#*|}" </dev/null >"$dir/out" 2>&1 \
            || fail "grant $category $grant: $(cat "$dir/out")"
    done
done

snapshot() {
    sql "select md5(string_agg(x, '|' order by x)) from (select f::text as x from strvfile f
         union all select c::text from strvcategory c union all select u::text from strvusers u
         union all select g::text from strvgroups g union all select m::text from strvgroupusers m
         union all select e::text from strvexif e) s"
}
before=$(snapshot)

# expected-line  stdin  program  arguments...
refused() {
    local expect=$1 input=$2
    shift 2
    local status=0
    printf '%s\n' "$input" | "$@" >"$dir/out" 2>"$dir/err" || status=$?
    [ "$status" -ne 0 ] || fail "$(basename "$1") ${*:2}: status 0"
    grep -qF "refused: $expect" "$dir/out" \
        || fail "$(basename "$1") ${*:2}: expected 'refused: $expect', got: $(head -c 400 "$dir/out")"
}
privilege="Authorization Failed: Your access privileges do not allow you to complete the requested operation. Requested Privilege:"
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$import" --quiet "$catalog" Shots "$dir/files/img1.ppm"
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$import" --rescan "$catalog" Shots
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$import" --quiet --smart "$catalog" Cards "$dir/files"
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$autofill" "$catalog" Shots append fulldesc=x
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$express" "$catalog" --rate 4 --in Shots --quick All:img
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" env USER=editor LOGNAME=editor \
    "$express" "$catalog" --rate 4 --in Shots --quick All:img
refused "$privilege FULL ACCESS Your Privilege Level: READ ONLY" "" "$users" "$catalog" grant "$shots" Viewers "READ & WRITE"
refused "Wrong login or password" "" "$users" "$catalog" add-member "$me" Admin
refused "Wrong login or password" "" env USER=admin "$users" "$catalog" group-privileges Viewers "MANAGE USERS"
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$window" "$catalog" --category Shots --row 0 --rate 4
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$window" "$catalog" --category Shots --row 0 --rotate right
refused "$privilege READ & WRITE Your Privilege Level: READ ONLY" "" "$window" "$catalog" --rescan "$watched"
refused "$privilege FULL ACCESS Your Privilege Level: READ ONLY" "" "$window" "$catalog" --delete-category Shots
[ "$(snapshot)" = "$before" ] || fail "a refused tool changed the catalog"

# The editor, logged in with a password, may rate in Shots.
printf '%s\n' "$editor_pw" | "$express" "$catalog" --login editor --rate 4 --in Shots --quick All:img >"$dir/out" 2>&1 \
    || fail "the editor could not rate: $(cat "$dir/out")"
[ "$(sql "select count(*) from strvfile where categoryid='$shots' and rating=4")" = 4 ] || fail "the editor's rating is not there"

[ "$failures" -eq 0 ] && echo "read-only probe: every tool refused with the privilege text and wrote nothing"
exit $((failures > 0))
