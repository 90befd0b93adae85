#!/usr/bin/env bash
# expert-memory-probe.sh TOOLDIR: what expert searches over an entry with a description of a megabyte
# ask of a private PostgreSQL server. Prints, for each clause, how ovn-express answers and how long
# it took (--time-limit 5), and for the clauses the condition check lets through, the peak memory of
# the server process that ran them (VmHWM, read from /proc in the same session).
# Usage: bench/search/expert-memory-probe.sh build-test/tools
set -uo pipefail
tools=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
env=$("$root/scripts/pg-test-server" start) || { echo "no PostgreSQL server could be started" >&2; exit 77; }
eval "$env"
dir=$(mktemp -d)
trap '"$root/scripts/pg-test-server" stop "$OVN_TEST_PG_DIR" >/dev/null 2>&1; rm -rf "$dir"' EXIT
export PGPASSWORD=$OVN_TEST_PG_PASSWORD QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$dir/config"
catalog="postgresql://$OVN_TEST_PG_USER@$OVN_TEST_PG_HOST:$OVN_TEST_PG_PORT/$OVN_TEST_PG_DB"
psql_run() {
    psql -h "$OVN_TEST_PG_SOCKET_DIR" -p "$OVN_TEST_PG_PORT" -U "$OVN_TEST_PG_USER" -d "$OVN_TEST_PG_DB" -qAtX "$@"
}
{ printf 'P6\n4 3\n255\n'; head -c 36 /dev/zero | tr '\0' 'd'; } > "$dir/a.ppm"
"$tools/ovn-import" --quiet "$catalog" Shots "$dir/a.ppm" >/dev/null || { echo "the import failed" >&2; exit 1; }
psql_run -c "update strvfile set fulldesc = repeat('a', 1048576)" >/dev/null

joined() { local terms=$1 column=$2 i out="$2"; for ((i = 1; i < terms; i++)); do out+=" || $column"; done; echo "length($out) > 0"; }
long_like="#fulldesc# like '%$(head -c 6000 /dev/zero | tr '\0' a)b%'"
printf '%-44s %-10s %s\n' clause answer seconds
for clause in "$(joined 2000 '#fulldesc#')" "$(joined 200 '#fulldesc#')" "$(joined 40 '#fulldesc#')" \
    "$(joined 600 'strvfile.thumbimage')" "$(joined 14 '#fulldesc#')" "$(joined 8 '#fulldesc#')" "$long_like"; do
    start=$(date +%s.%N)
    answer=$("$tools/ovn-express" "$catalog" --time-limit 5 --expert "$clause" 2>&1 | head -1 | cut -c1-40)
    end=$(date +%s.%N)
    printf '%-44s %-10s %.2f\n' "${clause:0:40}..." "${answer%%:*}" "$(echo "$end - $start" | bc)"
done

# The server's peak for the largest clauses the check lets through, run as ovn-express sends them.
echo
printf '%-44s %s\n' "clause run on the server" "backend peak (VmHWM)"
for clause in "$(joined 14 'fulldesc')" "$(joined 8 'fulldesc')" "upper(upper(upper(fulldesc))) = ''" "fulldesc like '%a%'"; do
    peak=$(psql_run <<SQL 2>&1 | tail -1
select pg_backend_pid() as pid \gset
\setenv BACKEND :pid
select count(*) from strvfile where $clause;
\! grep VmHWM /proc/\$BACKEND/status
SQL
)
    printf '%-44s %s\n' "${clause:0:40}..." "$peak"
done
