#!/usr/bin/env bash
# The completion benchmark: the first Tab (nothing read yet) on 3,000 tables of four columns each, on
# SQLite, PostgreSQL and MariaDB (with a second database of 3,000 tables beside the current one); medians of
# RUNS fresh starts (5 by default) per case, timed around the completion function alone.
source "$(dirname "$0")/common.sh"
timer=build-bench/completion_time
tables=3000

# The statements that create $tables tables, t0 to t2999, in the schema or database $1 (empty: the current one).
create_tables() {
  local prefix=${1:+$1.}
  for ((i = 0; i < tables; i++)); do
    echo "create table ${prefix}t$i(id integer, name_$i varchar(20), col_b integer, created date);"
  done
}

machine
echo "first Tab on $tables tables, medians of $runs runs"

echo "SQLite $(sqlite3 --version | cut -d' ' -f1)"
if [ ! -s "$data/tables.db" ]; then create_tables | sqlite3 "$data/tables.db"; fi
"$timer" "Driver=SQLite3;Database=$data/tables.db" "$runs"

start_pg_server
{ echo "begin;"; create_tables; echo "commit;"; } | psql_cmd >/dev/null
echo "PostgreSQL $(psql_cmd -Atc 'show server_version')"
"$timer" "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=postgres;UID=postgres;CommLog=0;Debug=0" "$runs"

if [ -x /usr/sbin/mariadbd ]; then
  my_dir=$(mktemp -d /tmp/odbc-console-bench-my-XXXXXX)
  my_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  trap 'tests/pg_server.sh stop "$pg_dir"; tests/mariadb_server.sh stop "$my_dir"' EXIT
  tests/mariadb_server.sh start "$my_dir" "$my_port"
  { echo "create database other;"; create_tables other; create_tables test; } |
    mariadb --no-defaults --socket="$my_dir/mysqld.sock" -uroot test
  echo "MariaDB $(mariadb --no-defaults --socket="$my_dir/mysqld.sock" -uroot -N -e 'select version()')"
  "$timer" "Driver=MariaDB Unicode;Server=127.0.0.1;Port=$my_port;Database=test;User=root" "$runs"
fi
