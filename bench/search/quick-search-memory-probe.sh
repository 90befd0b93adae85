#!/bin/bash
# Peak memory of one PostgreSQL server process for the statements of a quick search over planted
# long texts: the one a quick search over a 32 MB description ran before it was bounded, the look
# at the stored sizes that now refuses it, and the largest texts the bounds still let through.
# Prints figures; asserts nothing. Run against the test server:
#   eval "$(scripts/pg-test-server start)"; bash bench/search/quick-search-memory-probe.sh
set -eu
psql=$(ls /usr/lib/postgresql/*/bin/psql | sort -V | tail -n 1)
export PGHOST=$OVN_TEST_PG_HOST PGPORT=$OVN_TEST_PG_PORT PGUSER=$OVN_TEST_PG_USER PGDATABASE=$OVN_TEST_PG_DB
export PGPASSWORD=$OVN_TEST_PG_PASSWORD

# The server process's peak resident size (VmHWM) before and after the statement.
measure() {
    local sql=$1 pid base peak line
    coproc session { "$psql" -qAtX 2>&1; }
    echo "select pg_backend_pid();" >&"${session[1]}"
    read -r pid <&"${session[0]}"
    base=$(awk '/VmHWM/{print $2}' "/proc/$pid/status")
    printf '%s\nselect %s;\n' "$sql" "'done'" >&"${session[1]}"
    while read -r line <&"${session[0]}" && [ "$line" != done ]; do :; done
    peak=$(awk '/VmHWM/{print $2}' "/proc/$pid/status")
    echo '\q' >&"${session[1]}"
    wait "$session_PID" 2>/dev/null || true
    printf '%4d MiB (idle %d MiB)  %s\n' $((peak / 1024)) $((base / 1024)) "$2"
}

like() { echo "upper($1) like upper('%beach%') escape '\\'"; }
"$psql" -qAtX -c "set client_min_messages = warning; drop table if exists probe; create table probe(id int, fulldesc text, keywords text, shortdesc text);
  insert into probe values (1, repeat('a', 32 << 20), 'k', 's'), (2, repeat('a', 7100000), 'k', 's'),
  (3, repeat('a', 2390000), repeat('b', 2390000), repeat('c', 2390000));"
measure "select count(*) from probe where id = 1 and $(like fulldesc);" \
    "32 MB description, its quick search as it ran unbounded"
measure "select id from probe where octet_length(keywords) > 2396745 or octet_length(shortdesc) > 2396745 or octet_length(fulldesc) > 2396745 limit 1;" \
    "32 MB description, the look at the stored sizes that refuses it"
measure "select count(*) from probe where id = 2 and $(like fulldesc);" \
    "7.1 MB description, the largest a search of the description alone runs over"
measure "select count(*) from probe where id = 3 and ($(like keywords) or $(like shortdesc) or $(like fulldesc));" \
    "three texts of 2.3 MB, the largest a search of all columns runs over"
"$psql" -qAtX -c "drop table probe;"
