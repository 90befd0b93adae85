#!/usr/bin/env bash
# The command-line tools on a server catalog as this account's own catalog user, as the program is.
# First as a member of a group holding READ ONLY on the categories: each writing action is refused
# with the program's privilege text and a status that is not 0, and the catalog is left exactly as
# it was. $USER names nobody: setting it to a user who could write changes nothing. A user who may
# write still can. Then each tool that reads or writes, as that member (who has NO ACCESS to one
# collection: none of its entries or its id is printed, nothing of it is exported, mailed or
# published), as a user in no group and as an account that is no catalog user (both refused with
# the program's start-up words, status 1, nothing printed of the catalog, nothing written). No
# server error text reaches the terminal.
# Usage: tools-read-only-probe.sh TOOL-FOLDER PG-TEST-SERVER
set -uo pipefail
tools=$1
server=$2
import=$tools/ovn-import
autofill=$tools/ovn-autofill
express=$tools/ovn-express
users=$tools/ovn-users
window=$tools/ovn-catalog-window

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
mkdir -p "$dir/secret" "$dir/more" "$dir/vols/Card"
for n in 1 2 3 4; do
    { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/files/img$n.ppm"
done
cp "$dir/files/img1.ppm" "$dir/files/img2.ppm" "$dir/watched/"
cp "$dir/files/img3.ppm" "$dir/secret/hidden1.ppm"
cp "$dir/files/img4.ppm" "$dir/secret/hidden2.ppm"
cp "$dir/files/img1.ppm" "$dir/more/img9.ppm"
cp "$dir/files/img1.ppm" "$dir/vols/Card/img8.ppm"
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }

# Made while the catalog has no users, when everyone may do everything.
"$import" --quiet "$catalog" Shots "$dir/files" >/dev/null 2>&1 || fail "the first import failed"
"$import" --quiet --smart "$catalog" Cards "$dir/files" >/dev/null 2>&1 || fail "the first smart import failed"
"$window" "$catalog" --new-surveillance-folder "$dir/watched" >/dev/null 2>&1 || fail "no surveillance folder"
"$import" --quiet "$catalog" Secret "$dir/secret" >/dev/null 2>&1 || fail "the secret import failed"
"$import" --quiet "$catalog" Open "$dir/more" >/dev/null 2>&1 || fail "the open import failed"
shots=$(sql "select mid from strvcategory where displaytag='Shots'")
cards=$(sql "select mid from strvcategory where displaytag='Cards' and type='F'")
watched=$(sql "select displaytag from strvcategory where type='M'")
watchedId=$(sql "select mid from strvcategory where type='M'")
secret=$(sql "select mid from strvcategory where displaytag='Secret'")
open=$(sql "select mid from strvcategory where displaytag='Open'")

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
for category in "$shots" "$cards" "$watchedId" "$secret"; do
    last="Viewers|READ ONLY"
    [ "$category" = "$secret" ] && last="Viewers|NO ACCESS"
    for grant in "Viewers|FULL ACCESS" "Editors|READ & WRITE" "$last"; do
        "$users" "$catalog" --force grant "$category" "${grant%%|*}" "${grant#*|}" </dev/null >"$dir/out" 2>&1 \
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

# ---- Each tool as a member, as a user in no group and as an account that is no catalog user ----
find=$tools/ovn-find
export OVN_VOLUME_ROOTS="$dir/vols"
echo '{ LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "ppm"; } ); }' > "$dir/all.plist"
printf 'v5.0 Canto(r) Cumulus(r) Record Export\r\n\r\nVolume-Name\tOrdnername\tAsset-Name\r\n%%Data\r\nCard\t\timg8.ppm\r\n' \
    > "$dir/export.txt"
visible=$(sql "select count(*) from strvfile where categoryid<>'$secret'")
rm -rf "$dir/dest"
mkdir "$dir/dest"

# role  status  expected-text  program  arguments...   (one case a line; "-" for no expected text)
cases() {
    local noaccess="Requested Privilege: READ ONLY Your Privilege Level: NO ACCESS"
    local readonly="Requested Privilege: READ & WRITE Your Privilege Level: READ ONLY"
    cat <<CASES
member|0|found: $visible|$find|$catalog|$dir/all.plist
member|0|found: $visible|$express|$catalog|--quick|All:ppm
member|1|The search could not run.|$express|$catalog|--expert|cast(displaytag as integer) = 1
member|0|exported: 4 of 4|$tools/ovn-export|$catalog|Shots|$dir/dest
member|1|$noaccess|$tools/ovn-export|$catalog|Secret|$dir/dest
member|1|$noaccess|$tools/ovn-mail|$catalog|Secret|--command|true
member|1|$noaccess|$tools/ovn-publish|$catalog|Secret|$dir/dest
member|1|$noaccess|$tools/ovn-catalog|$pgcatalog|list|$secret
member|0|Shots|$tools/ovn-catalog|$pgcatalog|categories
member|0|img9.ppm|$tools/ovn-catalog|$pgcatalog|media
member|1|$readonly|$tools/ovn-lighttable|$catalog|Shots|--select|0|--rate|3
member|1|$readonly|$tools/ovn-recordexport|$catalog|Shots|$dir/export.txt
member|1|Requested Privilege: READ & WRITE Your Privilege Level: NO ACCESS|$import|--quiet|$catalog|Secret|$dir/files
CASES
    for role in nogroup stranger; do
        local words="belongs to no group"
        [ "$role" = stranger ] && words="is not a user of this catalog"
        cat <<CASES
$role|1|$words|$find|$catalog|$dir/all.plist
$role|1|$words|$find|$catalog|$dir/all.plist|--save|Mine
$role|1|$words|$express|$catalog|--quick|All:ppm
$role|1|$words|$tools/ovn-export|$catalog|Shots|$dir/dest
$role|1|$words|$tools/ovn-mail|$catalog|Shots|--command|true
$role|1|$words|$tools/ovn-publish|$catalog|Shots|$dir/dest
$role|1|$words|$tools/ovn-catalog|$pgcatalog|categories
$role|1|$words|$tools/ovn-catalog|$pgcatalog|media
$role|1|$words|$tools/ovn-catalog|$pgcatalog|add-category|Mine
$role|1|$words|$tools/ovn-lighttable|$catalog|Shots|--select|0|--rate|3
$role|1|$words|$tools/ovn-recordexport|$catalog|Mine|$dir/export.txt
$role|1|$words|$import|--quiet|$catalog|Mine|$dir/files
$role|1|$words|$users|$catalog|grant|$open|Viewers|READ ONLY
$role|1|$words|$users|$catalog|level|$open|$me
$role|1|$words|$autofill|$catalog|Shots|append|fulldesc=x
$role|1|$words|$window|$catalog|--category|Shots|--row|0|--rate|4
CASES
    done
}
pgcatalog="postgresql:$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
export PGUSER=$OVN_TEST_PG_USER

# Runs the cases of one role: the status, the expected text somewhere in what the tool printed,
# nothing of the NO ACCESS collection, no server error text, and for a refused account nothing of
# the catalog at all; the catalog unchanged.
run_role() {
    local role=$1 before line status want prog
    before=$(snapshot)
    while IFS='|' read -r -a line; do
        [ "${line[0]}" = "$role" ] || continue
        want=${line[1]}
        prog=${line[3]}
        status=0
        "$prog" "${line[@]:4}" </dev/null >"$dir/out" 2>&1 || status=$?
        local name="$role $(basename "$prog") ${line[*]:5}"
        [ "$status" = "$want" ] || fail "$name: status $status, not $want: $(head -c 400 "$dir/out")"
        [ "${line[2]}" = "-" ] || grep -qF -- "${line[2]}" "$dir/out" \
            || fail "$name: expected '${line[2]}', got: $(head -c 400 "$dir/out")"
        if grep -qE "hidden|$secret|ERROR|LINE [0-9]" "$dir/out"; then
            fail "$name: printed what it must not: $(grep -E "hidden|$secret|ERROR|LINE [0-9]" "$dir/out" | head -3)"
        fi
        if [ "$role" != member ] && grep -qE "img[0-9]|$shots" "$dir/out"; then
            fail "$name: a refused account read the catalog: $(head -c 400 "$dir/out")"
        fi
    done < <(cases)
    [ "$(snapshot)" = "$before" ] || fail "$role: a tool changed the catalog"
    [ -z "$(ls "$dir/dest" | grep -v '^img')" ] || fail "$role: the NO ACCESS collection was written out"
    rm -rf "$dir/dest"/*
}

run_role member
# What a member may do still goes: a smart folder of his own and a new collection at the top level.
"$find" "$catalog" "$dir/all.plist" --save Mine </dev/null | grep -q '^saved: ' || fail "the member could not save a search"
"$import" --quiet "$catalog" Fresh "$dir/more" >/dev/null 2>&1 || fail "the member could not import into a new collection"
sql "delete from strvgroupusers where usermid=(select mid from strvusers where login='$me')"
run_role nogroup
sql "delete from strvusers where login='$me'"
run_role stranger

[ "$failures" -eq 0 ] && echo "tools probe: each tool as a member, a user in no group and a stranger, as the program would"
exit $((failures > 0))
