#!/usr/bin/env bash
# The tools' answers on a private server catalog with users, as scripts read them: a refusal or a
# failed record is status 1, a wrong command line 2, a stopped server 1 with the program's words
# after the time a running import waits for it;
# a failed --login of ovn-express says what a search needs; another login's level is for a manager
# only, and the level of a category that is not there is refused; ovn-find searches every readable
# entry for a place it does not offer (a NO ACCESS collection, an unknown or a renamed one) and
# never names a NO ACCESS collection; a title holding an escape character reaches the output
# written out as \x1b, never raw.
# Usage: tool-status-probe.sh TOOL-FOLDER PG-TEST-SERVER
set -uo pipefail
tools=$1
server=$2

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
export OVN_VOLUME_ROOTS="$dir/vols"
catalog="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
me=$(id -un)
admin_pw='Adm1nPw7'
editor_pw='Ed1torPw'
failures=0
fail() { echo "probe: $*" >&2; failures=$((failures + 1)); }

mkdir -p "$dir/files" "$dir/secret" "$dir/open" "$dir/vols/Card" "$dir/dest"
for n in 1 2 3; do
    { printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' "\\$((100 + n))"; } > "$dir/files/img$n.ppm"
done
cp "$dir/files/img1.ppm" "$dir/secret/hidden1.ppm"
cp "$dir/files/img2.ppm" "$dir/open/img4.ppm"
cp "$dir/files/img3.ppm" "$dir/vols/Card/img8.ppm"
# One record that is there and one whose file is not.
printf 'v5.0 Canto(r) Cumulus(r) Record Export\r\n\r\nVolume-Name\tOrdnername\tAsset-Name\r\n%%Data\r\n' \
    > "$dir/export.txt"
printf 'Card\t\timg8.ppm\r\nCard\t\tgone.ppm\r\n' >> "$dir/export.txt"
echo '{ LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "ppm"; } ); }' > "$dir/all.plist"
echo '{ CATALOG = Secret; LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "ppm"; } ); }' > "$dir/secret.plist"
echo '{ CATALOG = Shots; LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "red"; } ); }' > "$dir/shots.plist"
echo '{ CATALOG = Nowhere; LINES = ( { FIELDTITLE = Name; OPERATORID = 2; VALUE = "ppm"; } ); }' > "$dir/nowhere.plist"

# Made while the catalog has no users, when everyone may do everything.
for c in "Shots|files" "Secret|secret" "Open|open"; do
    "$tools/ovn-import" --quiet "$catalog" "${c%%|*}" "$dir/${c#*|}" >/dev/null 2>&1 || fail "the import of ${c%%|*} failed"
done
shots=$(sql "select mid from strvcategory where displaytag='Shots'")
secret=$(sql "select mid from strvcategory where displaytag='Secret'")
open=$(sql "select mid from strvcategory where displaytag='Open'")
# A title that would turn the terminal red and clear it.
sql "update strvfile set displaytag=E'evil\\x1b[31m\\x1b[2Jred' where displaytag='img1.ppm' and categoryid='$shots'"
# And one that would forge a line and a column of the tools' output.
sql "update strvfile set displaytag=E'two\\nlines\\tand\\u009bcsi' where displaytag='img2.ppm' and categoryid='$shots'"

# An administrator who is not this account; this account's user in Viewers, an editor in Editors.
users=$tools/ovn-users
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
# The account grants while it still holds full access, ending with its own level.
for c in "$shots|READ ONLY" "$secret|NO ACCESS" "$open|READ & WRITE"; do
    for grant in "Viewers|FULL ACCESS" "Editors|READ & WRITE" "Viewers|${c#*|}"; do
        "$users" "$catalog" --force grant "${c%%|*}" "${grant%%|*}" "${grant#*|}" </dev/null >"$dir/out" 2>&1 \
            || fail "grant ${c%%|*} $grant: $(cat "$dir/out")"
    done
done

refused="refused: Authorization Failed: Your access privileges do not allow you to complete the requested operation."
privilege="$refused Requested Privilege: READ & WRITE Your Privilege Level:"
manager="Wrong login or password, or the user is in no group with the privilege \"MANAGE USERS\"."
search_login="Wrong login or password, or the user is in no group: a search needs the login and password of a catalog user who belongs to a group."
# status | expected text | standard input | program | arguments...   ("-" for no expected text)
cases() {
    cat <<CASES
1|$privilege NO ACCESS||ovn-autofill|$catalog|$secret|append|keywords=x
1|$privilege READ ONLY||ovn-autofill|$catalog|Shots|append|keywords=x
2|-||ovn-autofill|$catalog|Shots|sideways|keywords=x
1|refused: no category Nowhere||ovn-autofill|$catalog|Nowhere|append|keywords=x
1|vols/Card/gone.ppm: does not exist||ovn-recordexport|$catalog|Open|$dir/export.txt
1|$privilege READ ONLY||ovn-recordexport|$catalog|Shots|$dir/export.txt
2|-||ovn-recordexport|$catalog|Open
1|refused: $search_login|wrong|ovn-express|$catalog|--login|editor|--quick|All:ppm
1|refused: $search_login|$editor_pw|ovn-express|$catalog|--login|nobody|--quick|All:ppm
0|img4.ppm|$editor_pw|ovn-express|$catalog|--login|editor|--quick|All:img
1|$privilege READ ONLY||ovn-express|$catalog|--rate|4|--in|Shots|--quick|All:img
2|-||ovn-express|$catalog|--quick|Nothing:ppm
1|refused: $manager||ovn-users|$catalog|level|$shots|editor
1|refused: $manager|$editor_pw|ovn-users|$catalog|--login|editor|level|$shots|admin
0|level: READ ONLY||ovn-users|$catalog|level|$shots|$me
0|level: READ & WRITE|$admin_pw|ovn-users|$catalog|--login|admin|level|$shots|editor
2|-||ovn-users|$catalog|level|$shots
1|refused: no category no-such-id||ovn-users|$catalog|level|no-such-id|$me
0|found: ||ovn-find|$catalog|$dir/secret.plist
0|found: ||ovn-find|$catalog|$dir/nowhere.plist
0|evil\x1b[31m\x1b[2Jred||ovn-find|$catalog|$dir/shots.plist
0|found: 3||ovn-find|$catalog|$dir/all.plist
2|-||ovn-find|$catalog
0|evil\x1b[31m\x1b[2Jred||ovn-express|$catalog|--quick|All:evil
0|two\x0alines\x09and\u009bcsi||ovn-express|$catalog|--quick|All:two
1|$refused Requested Privilege: READ ONLY Your Privilege Level: NO ACCESS||ovn-export|$catalog|Secret|$dir/dest
2|-||ovn-export|$catalog|Shots
1|$refused Requested Privilege: READ ONLY Your Privilege Level: NO ACCESS||ovn-mail|$catalog|Secret|--command|true
2|-||ovn-mail|$catalog
1|$refused Requested Privilege: READ ONLY Your Privilege Level: NO ACCESS||ovn-publish|$catalog|Secret|$dir/dest
2|-||ovn-publish|$catalog
CASES
}

# Runs each case: its status, its text somewhere in what it printed, never a raw escape character
# nor anything of the NO ACCESS collection.
run_cases() {
    local line status
    while IFS='|' read -r -a line; do
        status=0
        printf '%s\n' "${line[2]}" | "$tools/${line[3]}" "${line[@]:4}" >"$dir/out" 2>&1 || status=$?
        local name="${line[3]} ${line[*]:5}"
        [ "$status" = "${line[0]}" ] || fail "$name: status $status, not ${line[0]}: $(head -c 400 "$dir/out")"
        [ "${line[1]}" = "-" ] || grep -qF -- "${line[1]}" "$dir/out" \
            || fail "$name: expected '${line[1]}', got: $(head -c 400 "$dir/out")"
        grep -q $'\x1b' "$dir/out" && fail "$name: a raw escape character reached the output"
        grep -qE "hidden|$secret" "$dir/out" && fail "$name: named the NO ACCESS collection: $(head -c 400 "$dir/out")"
    done < <(cases)
}
run_cases

# A smart folder saved in Shots searches every readable entry once Shots is renamed, as the find
# sheet runs it; a NO ACCESS entry is never among them.
"$tools/ovn-find" "$catalog" "$dir/shots.plist" --save "Red ones" >"$dir/out" 2>&1 || fail "no smart folder: $(cat "$dir/out")"
saved=$(sed -n 's/^saved: //p' "$dir/out")
sql "update strvcategory set displaytag='Shots renamed' where mid='$shots'"
"$tools/ovn-find" "$catalog" --smart-folder "$saved" >"$dir/out" 2>&1 || fail "renamed: status $?: $(head -c 400 "$dir/out")"
grep -qF 'evil\x1b[31m\x1b[2Jred' "$dir/out" || fail "renamed: the entry is not found: $(head -c 400 "$dir/out")"
grep -qE "hidden|$secret" "$dir/out" && fail "renamed: named the NO ACCESS collection"
sql "update strvcategory set displaytag='Shots' where mid='$shots'"
[ "$(sql "select count(*) from strvfile where categoryid='$open'")" = 2 ] \
    || fail "the record export did not keep the record that was there"

# The same on a catalog file: the escape character written out by each tool that lists titles.
if command -v sqlite3 >/dev/null; then
    file="$dir/local.sqlite"
    "$tools/ovn-import" --quiet "$file" Shots "$dir/files" >/dev/null 2>&1 || fail "the import into a file failed"
    sqlite3 "$file" "update strvfile set displaytag='evil' || char(27) || '[2Jred' where displaytag='img1.ppm'"
    for run in "ovn-find|$file|$dir/shots.plist" "ovn-express|$file|--quick|All:evil" "ovn-catalog|$file|media" \
        "ovn-catalog-window|$file|--category|Shots|--list"; do
        IFS='|' read -r -a line <<<"$run"
        "$tools/${line[0]}" "${line[@]:1}" </dev/null >"$dir/out" 2>&1 || fail "file: ${line[*]}: status $?"
        grep -qF 'evil\x1b[2Jred' "$dir/out" || fail "file: ${line[*]}: the title is not written out: $(head -c 400 "$dir/out")"
        grep -q $'\x1b' "$dir/out" && fail "file: ${line[*]}: a raw escape character reached the output"
    done
    # A collection and a file whose names hold an escape character, as a hostile card may bring:
    # the import's lines write them out too.
    mkdir -p "$dir/card"
    cp "$dir/files/img2.ppm" "$dir/card/bad"$'\x1b'"[2J.ppm"
    "$tools/ovn-import" "$file" "Card"$'\x1b'"[31m" "$dir/card" >"$dir/out" 2>&1 || fail "import of a hostile name: status $?"
    grep -qF 'bad\x1b[2J.ppm' "$dir/out" || fail "import: the file name is not written out: $(head -c 400 "$dir/out")"
    grep -q $'\x1b' "$dir/out" && fail "import: a raw escape character reached the output"
    "$tools/ovn-catalog-window" "$file" --outline </dev/null >"$dir/out" 2>&1 || fail "outline: status $?"
    grep -qF 'Card\x1b[31m' "$dir/out" || fail "outline: the collection's name is not written out: $(head -c 400 "$dir/out")"
fi

# The server stopped: every tool waits for it as long as a running import does, saying so, then
# says why in the program's words, with status 1, never 2. The tools wait side by side.
"$server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1
outages=0
while IFS='|' read -r -a line; do
    outages=$((outages + 1))
    printf '%s\n' "${line[*]}" > "$dir/outage$outages.case"
    (
        status=0
        printf '%s\n' "${line[1]}" | "$tools/${line[0]}" "${line[@]:2}" >"$dir/outage$outages.out" 2>&1 || status=$?
        echo "$status" > "$dir/outage$outages.status"
    ) &
done <<CASES
ovn-autofill||$catalog|Shots|append|keywords=x
ovn-recordexport||$catalog|Open|$dir/export.txt
ovn-import||$catalog|Shots|$dir/files
ovn-import||--rescan|$catalog|Shots
ovn-import||--smart|$catalog|Top|$dir/files
ovn-express||$catalog|--quick|All:ppm
ovn-express|$editor_pw|$catalog|--login|editor|--quick|All:ppm
ovn-find||$catalog|$dir/all.plist
ovn-users||$catalog|level|$shots|$me
ovn-export||$catalog|Shots|$dir/dest
ovn-mail||$catalog|Shots|--command|true
ovn-publish||$catalog|Shots|$dir/dest
CASES
wait
for n in $(seq 1 "$outages"); do
    name=$(cat "$dir/outage$n.case")
    status=$(cat "$dir/outage$n.status")
    [ "$status" = 1 ] || fail "outage: $name: status $status, not 1: $(head -c 400 "$dir/outage$n.out")"
    grep -qF "Waiting for the catalog server..." "$dir/outage$n.out" \
        || fail "outage: $name: it did not say that it waits: $(head -c 400 "$dir/outage$n.out")"
    grep -qF "cannot open the catalog $catalog: Database connection failed: " "$dir/outage$n.out" \
        || fail "outage: $name: not the program's words: $(head -c 400 "$dir/outage$n.out")"
done

[ "$failures" -eq 0 ] && echo "tool status probe: every status, refusal and outage as the rule says"
exit $((failures > 0))
