#!/usr/bin/env bash
# One end-to-end session under valgrind memcheck: a query with NULLs, a failed statement, an insert and a
# listing that pauses. Fails on any memory error or definitely lost block.
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

LC_ALL=C.UTF-8 valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
  --show-leak-kinds=definite "$console" "Driver=SQLite3;Database=$dir/session.db" <"$dir/input.sql" >"$dir/out.txt" 2>"$dir/err.txt" || {
  status=$?
  cat "$dir/err.txt" >&2
  echo "valgrind_session.sh: exit status $status" >&2
  exit 1
}
grep -q 'Disconnected.' "$dir/out.txt" || { echo "valgrind_session.sh: the session did not end normally" >&2; exit 1; }
grep -q '|          4 |' "$dir/out.txt" || grep -q '│          4 │' "$dir/out.txt" || { cat "$dir/out.txt" >&2; exit 1; }
echo "valgrind memcheck: no errors, no definitely lost blocks"
