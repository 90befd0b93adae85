#!/usr/bin/env bash
# A start whose "-Key Value" server settings fail, answered as a user would under Xvfb and openbox:
# OK on the failure, Preferences on the start-up question, the working settings typed into the
# Database tab, Connect. Then exactly one alert (the one that says each new window uses the new
# connection), a catalog window on the new server, a second window (File > New) without any alert
# and on that server too, and a preferences file that holds the typed settings and nothing of the
# command line's.
# Usage: connect-after-failed-start-probe.sh OSTREVAN PG-TEST-SERVER
# Skips (77) without xvfb-run, openbox or xdotool, or when no PostgreSQL server can be started.
set -uo pipefail
program=$1
server=$2
for tool in xvfb-run openbox xdotool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
env=$("$server" start) || { echo "skipped: no PostgreSQL server could be started"; exit 77; }
eval "$env"
work=$(mktemp -d)
trap '"$server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1; rm -rf "$work"' EXIT
bindir=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
working_host=$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT
failing_host=127.0.0.1:1
fail=0

# One run. The session starts the window manager and the program, answers the alerts and the
# preferences window from the keyboard, and writes what it saw into the home folder: the number of
# alerts after Connect ("alerts.connect"), after its OK ("alerts.after"), after File > New
# ("alerts.new"), and the catalog connections the server had after each window ("connections.*").
cat >"$work/session.sh" <<'SESSION'
#!/usr/bin/env bash
set -u
home=$1 database=$2
shift 2
export QT_QPA_PLATFORM=xcb HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/runtime
unset PGPASSWORD
problem() { echo "$*" >>"$home/session.problem"; }
windows() { # "id title" of the program's visible windows
    local id
    for id in $(xdotool search --onlyvisible --class ostrevan 2>/dev/null); do
        echo "$id $(xdotool getwindowname "$id" 2>/dev/null)"
    done
}
named() { windows | awk -v title="$1" '{ id = $1; $1 = ""; sub(/^ /, ""); if ($0 == title) print id }'; }
await() { # title [count]: waits (up to a minute) until that many windows of the title show
    local want=${2:-1}
    for _ in $(seq 1 1200); do
        [ "$(named "$1" | wc -l)" -ge "$want" ] && { named "$1" | head -n 1; return 0; }
        kill -0 "$program" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
press() { # window, keys...: the window in front, then the keys as typed
    local window=$1
    shift
    xdotool windowactivate --sync "$window" 2>/dev/null
    sleep 0.5
    xdotool key --delay 80 "$@"
}
type_into() { # the focused field's text replaced
    xdotool key ctrl+a
    xdotool type --delay 20 "$1"
}
connections() {
    "$SQL_HELPER" "$database" \
        "select count(*) from pg_stat_activity where datname = '$database' and application_name = 'Ostrevan'"
}

openbox >/dev/null 2>&1 &
manager=$!
sleep 1
"$PROGRAM" "$@" >"$home/program.out" 2>&1 &
program=$!
step() {
    case $1 in
        start)
            # The failure, then the question: Retry, Preferences, Quit.
            alert=$(await Ostrevan) || { problem "no alert at start-up"; return 1; }
            press "$alert" Return
            for _ in $(seq 1 1200); do [ "$(named Ostrevan)" != "$alert" ] && break; sleep 0.1; done
            alert=$(await Ostrevan) || { problem "no start-up question"; return 1; }
            press "$alert" Tab space
            ;;
        preferences)
            window=$(await Preferences) || { problem "no preferences window"; return 1; }
            sleep 1
            # The Database tab, its vendor list, then host, user, password, database and Connect.
            press "$window" ctrl+Tab ctrl+Tab ctrl+Tab Tab P Tab
            type_into "$WORKING_HOST"
            xdotool key Tab
            type_into "$PG_USER"
            xdotool key Tab
            type_into "$PG_PASSWORD"
            xdotool key Tab
            type_into "$database"
            sleep 0.5
            xdotool key --delay 80 Tab Tab Tab space
            ;;
        connected)
            alert=$(await Ostrevan) || { problem "no alert after Connect"; return 1; }
            # Whatever else Connect brings shows by then.
            sleep 4
            named Ostrevan | wc -l >"$home/alerts.connect"
            press "$alert" Return
            await "Asset Manager" >/dev/null || { problem "no catalog window after Connect"; return 1; }
            sleep 4
            named Ostrevan | wc -l >"$home/alerts.after"
            connections >"$home/connections.first"
            ;;
        new)
            catalog=$(await "Asset Manager") || return 1
            press "$catalog" ctrl+n
            await "Asset Manager" 2 >/dev/null || { problem "File > New opened no window"; return 1; }
            sleep 4
            named Ostrevan | wc -l >"$home/alerts.new"
            connections >"$home/connections.new"
            ;;
    esac
}
for name in start preferences connected new; do
    step "$name" || break
done
# Quit from a catalog window (with any alert answered first), as often as it takes.
for _ in $(seq 1 120); do
    kill -0 "$program" 2>/dev/null || break
    for alert in $(named Ostrevan); do press "$alert" Return; done
    catalog=$(named "Asset Manager" | head -n 1)
    [ -n "$catalog" ] && press "$catalog" ctrl+q
    sleep 1
done
if kill -0 "$program" 2>/dev/null; then
    problem "the program did not quit"
    kill "$program"
fi
wait "$program"
echo $? >"$home/program.status"
kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
exit 0
SESSION
chmod +x "$work/session.sh"
cat >"$work/sql.sh" <<SQL
#!/usr/bin/env bash
if [ "\$(id -u)" -eq 0 ]; then run="runuser -u postgres --"; else run=; fi
\$run "$bindir/psql" -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U postgres -d "\$1" -qAt -c "\$2"
SQL
chmod +x "$work/sql.sh"

stored() { # the value of a key in the preferences file
    grep -A1 "<key>$2</key>" "$1/.config/ostrevan/preferences.plist" | sed -n 's/.*<string>\(.*\)<\/string>.*/\1/p'
}

# name | what the preferences file holds before | the command line
cases=(
    "first start, nothing reachable|none|-DBVendor PostgreSQL -DBHost $failing_host -DBUser $OVN_TEST_PG_USER -DBDatabase @DB@"
    "stored settings, the command line's host fails|stored|-DBHost $failing_host"
    "the command line's password is wrong|integrated|-DBVendor PostgreSQL -DBHost $working_host -DBUser $OVN_TEST_PG_USER -DBDatabase @DB@ -DBPassword wrong-$OVN_TEST_PG_PASSWORD"
)
row=0
for entry in "${cases[@]}"; do
    IFS='|' read -r name before arguments <<<"$entry"
    row=$((row + 1))
    database=connect_probe_$row
    "$work/sql.sh" postgres "create database $database owner $OVN_TEST_PG_USER" >/dev/null || exit 1
    arguments=${arguments//@DB@/$database}
    home=$(mktemp -d "$work/home.XXXXXX")
    mkdir -p "$home/.config/ostrevan" "$home/runtime"
    chmod 700 "$home/runtime"
    case $before in
        stored) vendor=PostgreSQL host=$working_host ;;
        integrated) vendor=Integrated host= ;;
        *) vendor= ;;
    esac
    if [ -n "$vendor" ]; then
        cat >"$home/.config/ostrevan/preferences.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>DBVendor</key>
    <string>$vendor</string>
    <key>DBHost</key>
    <string>$host</string>
    <key>DBUser</key>
    <string>$OVN_TEST_PG_USER</string>
    <key>DBDatabase</key>
    <string>$database</string>
    <key>FirstRun</key>
    <string>NO</string>
</dict>
</plist>
PLIST
    fi
    # shellcheck disable=SC2086 # the arguments are words on purpose
    PROGRAM=$program SQL_HELPER=$work/sql.sh WORKING_HOST=$working_host PG_USER=$OVN_TEST_PG_USER \
        PG_PASSWORD=$OVN_TEST_PG_PASSWORD timeout -k 5 240 xvfb-run -a -s "-screen 0 1280x1024x24" \
        "$work/session.sh" "$home" "$database" $arguments >/dev/null 2>&1
    if [ ! -f "$home/program.status" ]; then
        echo "skipped: no virtual display could be started"
        exit 77
    fi
    problems=$(cat "$home/session.problem" 2>/dev/null)
    for check in "alerts.connect 1 alerts after Connect" "alerts.after 0 alerts once Connect's was answered" \
        "alerts.new 0 alerts after File > New"; do
        read -r file expected words <<<"$check"
        seen=$(cat "$home/$file" 2>/dev/null || echo none)
        [ "$seen" = "$expected" ] || problems+=" $seen $words (expected $expected);"
    done
    first=$(cat "$home/connections.first" 2>/dev/null || echo 0)
    second=$(cat "$home/connections.new" 2>/dev/null || echo 0)
    [ "$first" -ge 1 ] || problems+=" the first catalog window is not on the new server;"
    [ "$second" -gt "$first" ] || problems+=" the new window is not on the new server ($first, then $second);"
    [ "$(cat "$home/program.status")" = 0 ] || problems+=" status $(cat "$home/program.status");"
    [ "$(stored "$home" DBVendor)" = PostgreSQL ] || problems+=" the file's vendor is $(stored "$home" DBVendor);"
    [ "$(stored "$home" DBHost)" = "$working_host" ] || problems+=" the file's host is $(stored "$home" DBHost);"
    [ "$(stored "$home" DBDatabase)" = "$database" ] || problems+=" the file's database is $(stored "$home" DBDatabase);"
    for given in "$failing_host" "wrong-$OVN_TEST_PG_PASSWORD"; do
        if grep -qF -- "$given" "$home/.config/ostrevan/preferences.plist"; then
            problems+=" the command line's $given reached the file;"
        fi
    done
    if [ -n "$problems" ]; then
        echo "FAIL: $name: $problems" >&2
        cat "$home/program.out" >&2
        fail=1
    fi
done
[ "$fail" -eq 0 ] && echo "Connect after a failed start as expected"
exit "$fail"
