#!/usr/bin/env bash
# End-to-end sessions under valgrind memcheck: a query with NULLs, a failed statement, an insert and a
# listing that pauses; then a script whose rowset listing is followed by records fetched a row at a time.
# Fails on any memory error or definitely lost block.
#   valgrind_session.sh CONSOLE-BINARY
set -euo pipefail
console=$1
dir=$(mktemp -d /tmp/odbc-console-valgrind-XXXXXX)
trap 'rm -rf "$dir"' EXIT

printf '%s\n' \
  "create table t(id integer, name varchar(20), amount real)" \
  "insert into t values(1, 'Ann', 2.5)" \
  "insert into t values(2, NULL, NULL)" \
  "select * from t" \
  "select no_such_column from t" \
  "insert into t select id + 2, 'Zoë', amount from t" \
  "with recursive c(i) as (select 1 union all select i + 1 from c where i < 100) select i, 'row ' || i from c" \
  "" \
  "select count(*) from t" >"$dir/input.sql"

# Runs the console under memcheck with the given arguments, input from $1, output to $2.
run_checked() {
  local input=$1 output=$2
  shift 2
  LC_ALL=C.UTF-8 valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    --show-leak-kinds=definite "$console" "$@" <"$input" >"$output" 2>"$dir/err.txt" || {
    status=$?
    cat "$dir/err.txt" >&2
    echo "valgrind_session.sh: exit status $status" >&2
    exit 1
  }
}
run_checked "$dir/input.sql" "$dir/out.txt" "Driver=SQLite3;Database=$dir/session.db"
grep -q 'Disconnected.' "$dir/out.txt" || { echo "valgrind_session.sh: the session did not end normally" >&2; exit 1; }
grep -q '|          4 |' "$dir/out.txt" || grep -q '│          4 │' "$dir/out.txt" || { cat "$dir/out.txt" >&2; exit 1; }

printf '%s\n' "select * from t" '\x on' "select id, name from t where id < 3" >"$dir/records.sql"
run_checked "$dir/records.sql" "$dir/records.txt" -b "Driver=SQLite3;Database=$dir/session.db"
grep -q '^name │ Ann$' "$dir/records.txt" || { cat "$dir/records.txt" >&2; exit 1; }
echo "valgrind memcheck: no errors, no definitely lost blocks"
