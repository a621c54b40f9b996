#!/usr/bin/env bash
# The catalog benchmark: \d of one table and \dt on SQLite, PostgreSQL and MariaDB with 3,000 tables in the
# current schema or database and 3,000 more in another (SQLite: one database of 3,000); medians of RUNS
# runs (5 by default) of each command, as the console's own \timing reports it (the command alone, no start).
source "$(dirname "$0")/common.sh"
tables=3000

# The statements that create $tables tables, t0 to t2999, in the schema or database $1 (empty: the current
# one), each referencing the one before, with an index.
create_tables() {
  local prefix=${1:+$1.}
  echo "create table ${prefix}t0(id integer primary key, name varchar(20));"
  for ((i = 1; i < tables; i++)); do
    echo "create table ${prefix}t$i(id integer primary key, amount numeric(10,2) check (amount > 0), up integer references ${prefix}t$((i - 1))(id), name_$i varchar(20));"
    echo "create index t${i}_name on ${prefix}t$i(name_$i desc);"
  done
}

# Runs \d t1500 and \dt RUNS times in one session on connection $1; prints the two medians in ms.
time_commands() {
  local input="\\timing on"$'\n'
  for ((i = 0; i < runs; i++)); do input+="\\d t1500"$'\n'"\\dt"$'\n'; done
  printf '%s' "$input" | build-bench/odbc-console -b "$1" | grep '^Time: ' | awk '{ print $2 }' >"$data/catalog.times"
  local describe list
  describe=$(awk 'NR % 2 == 1' "$data/catalog.times" | median)
  list=$(awk 'NR % 2 == 0' "$data/catalog.times" | median)
  printf '  \\d t1500 %8.1f ms   \\dt %8.1f ms   (target <= 100 each)\n' "$describe" "$list"
}

machine
echo "\\d and \\dt with $tables tables here and $tables in another schema or database, medians of $runs runs"

echo "SQLite $(sqlite3 --version | cut -d' ' -f1)"
if [ ! -s "$data/catalog.db" ]; then { echo "begin;"; create_tables; echo "commit;"; } | sqlite3 "$data/catalog.db"; fi
time_commands "Driver=SQLite3;Database=$data/catalog.db"

start_pg_server
{ echo "create schema other;"; create_tables; create_tables other; } | psql_cmd >/dev/null
echo "PostgreSQL $(psql_cmd -Atc 'show server_version')"
time_commands "Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=postgres;UID=postgres;CommLog=0;Debug=0"

start_mariadb_server
{ echo "create database other;"; create_tables other; create_tables test; } | mariadb_cmd
echo "MariaDB $(mariadb_cmd -N -e 'select version()')"
time_commands "Driver=MariaDB Unicode;Server=127.0.0.1;Port=$mdb_port;Database=test;User=root"
