#!/usr/bin/env bash
# The load benchmark: 1,000,000 rows of the listing benchmark's five columns as CSV, loaded by \copy into
# SQLite, PostgreSQL and MariaDB against each database's own loader (sqlite3 .import, psql \copy, the mariadb
# client's LOAD DATA LOCAL INFILE) and a plain loop of one INSERT per row through the same driver; then
# SQLite to PostgreSQL source to source against the export to CSV plus its load. Medians of RUNS alternating
# runs (1 by default) and the ratios.
RUNS=${RUNS:-1}
source "$(dirname "$0")/common.sh"
make_sqlite_table "$data/big.db" 1000000
csv=$data/copy.csv
[ -s "$csv" ] || echo "\\copy t to $csv" | build-bench/odbc-console -b "Driver=SQLite3;Database=$data/big.db" >/dev/null
# The plain loop's statements: the first LOOP_ROWS rows, one INSERT a line, each committed by itself as a
# naive client does (autocommit); LOOP_TXN=1 puts them in one transaction.
loop_rows=${LOOP_ROWS:-1000}
inserts=$data/copy_inserts.sql
awk -F, -v n="$loop_rows" -v txn="${LOOP_TXN:-0}" 'BEGIN { if (txn) print "begin" } NR > 1 && NR <= n + 1 {
    printf "insert into t values(%s, '\''%s'\'', %s, %s, %s)\n", $1, $2, $3, ($4 == "" ? "null" : "'\''" $4 "'\''"), $5 }
  END { if (txn) print "commit" }' "$csv" >"$inserts"
start_pg_server
start_mariadb_server
pg_conn="Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=postgres;UID=postgres;CommLog=0;Debug=0"
mdb_conn="Driver=MariaDB Unicode;Server=127.0.0.1;Port=$mdb_port;Database=test;UID=root"
sqlite_conn="Driver=SQLite3;Database=$data/load.db"
columns="(k integer primary key, s varchar(20), r real, n varchar(30), i smallint)"

# fresh TARGET: an empty table t on the target.
fresh() {
  case "$1" in
    sqlite) rm -f "$data/load.db"; sqlite3 "$data/load.db" "create table t$columns" ;;
    pg) psql_cmd -c "drop table if exists t" -c "create table t$columns" >/dev/null ;;
    mariadb) mariadb_cmd -e "drop table if exists t; create table t${columns/real/double}" ;;
  esac
}
echo "\\copy t from $csv" >"$data/copy_in.sql"
echo "\\copy t to $data/copy_s2s.csv" >"$data/copy_out.sql"
echo "\\copy t from $data/copy_s2s.csv" >"$data/copy_back.sql"
printf '%s\n' "\\connect pg $pg_conn" "\\copy t to pg:t" >"$data/copy_s2s.sql"

# run PROGRAM: one timed load into a fresh table; prints "seconds KiB".
run() {
  case "$1" in
    console-sqlite) fresh sqlite; "$measure" "$data/copy_in.sql" /dev/null build-bench/odbc-console -b "$sqlite_conn" ;;
    sqlite3-import) fresh sqlite; "$measure" /dev/null /dev/null sqlite3 "$data/load.db" ".import --csv --skip 1 $csv t" ;;
    loop-sqlite) fresh sqlite; "$measure" "$inserts" /dev/null build-bench/exec_loop "$sqlite_conn" ;;
    console-pg) fresh pg; "$measure" "$data/copy_in.sql" /dev/null build-bench/odbc-console -b "$pg_conn" ;;
    psql-copy) fresh pg; "$measure" /dev/null /dev/null psql -X -q -h 127.0.0.1 -p "$port" -U postgres -d postgres \
      -c "\\copy t from $csv csv header" ;;
    loop-pg) fresh pg; "$measure" "$inserts" /dev/null build-bench/exec_loop "$pg_conn" ;;
    console-mariadb) fresh mariadb; "$measure" "$data/copy_in.sql" /dev/null build-bench/odbc-console -b "$mdb_conn" ;;
    load-data) fresh mariadb; "$measure" /dev/null /dev/null mariadb --no-defaults --local-infile=1 -h 127.0.0.1 -P "$mdb_port" \
      -uroot test -e "load data local infile '$csv' into table t fields terminated by ',' optionally enclosed by '\"' ignore 1 lines" ;;
    loop-mariadb) fresh mariadb; "$measure" "$inserts" /dev/null build-bench/exec_loop "$mdb_conn" ;;
    s2s) fresh pg; "$measure" "$data/copy_s2s.sql" /dev/null build-bench/odbc-console -b "Driver=SQLite3;Database=$data/big.db;StepAPI=1" ;;
    export) rm -f "$data/copy_s2s.csv"; "$measure" "$data/copy_out.sql" /dev/null build-bench/odbc-console -b "Driver=SQLite3;Database=$data/big.db;StepAPI=1" ;;
    import) fresh pg; "$measure" "$data/copy_back.sql" /dev/null build-bench/odbc-console -b "$pg_conn" ;;
  esac
}

programs=(console-sqlite sqlite3-import loop-sqlite console-pg psql-copy loop-pg console-mariadb load-data loop-mariadb s2s export import)
for program in "${programs[@]}"; do : >"$data/$program.times"; done
for ((i = 1; i <= RUNS; i++)); do
  for program in "${programs[@]}"; do run "$program" >>"$data/$program.times" || true; done
done
machine
echo "1,000,000 rows x 5 columns of CSV ($(stat -c %s "$csv") bytes) loaded into an empty table, medians of $RUNS runs;"
echo "the INSERT loops load the first $loop_rows rows ($([ "${LOOP_TXN:-0}" = 1 ] && echo 'in one transaction' || echo 'autocommit')), shown scaled to 1,000,000"
for program in "${programs[@]}"; do
  seconds=$(cut -d' ' -f1 "$data/$program.times" | median)
  case "$program" in loop-*) seconds=$(awk -v s="$seconds" -v n="$loop_rows" 'BEGIN { print s * 1000000 / n }') ;; esac
  printf '  %-16s %8.3f s   peak RSS %8s KiB\n' "$program" "$seconds" "$(max_rss <"$data/$program.times")"
  eval "s_${program//-/_}=$seconds"
done
awk -v a="$s_console_sqlite" -v b="$s_sqlite3_import" -v c="$s_loop_sqlite" -v d="$s_console_pg" -v e="$s_psql_copy" -v f="$s_loop_pg" \
    -v g="$s_console_mariadb" -v h="$s_load_data" -v i="$s_loop_mariadb" -v j="$s_s2s" -v k="$s_export" -v l="$s_import" 'BEGIN {
  printf "  SQLite:     console/sqlite3 .import %.2f (target <= 1.5)   loop/console %.1f (target >= 10)\n", a / b, c / a
  printf "  PostgreSQL: console/psql \\copy %.2f (target <= 3.0)   loop/console %.1f (target >= 10)\n", d / e, f / d
  printf "  MariaDB:    console/LOAD DATA %.2f (target <= 1.5)   loop/console %.1f (target >= 10)\n", g / h, i / g
  printf "  SQLite to PostgreSQL: source to source %.3f s, export + import %.3f s: %.2f (target <= 1.2)\n", j, k + l, j / (k + l) }'
rm -f "$data/copy_s2s.csv" "$data/load.db"
