#!/usr/bin/env bash
# The export benchmark: 1,000,000 rows to CSV, odbc-console --csv against sqlite3 -csv on a SQLite table and
# against psql --csv on a throwaway PostgreSQL server; medians of RUNS alternating runs (5 by default), the
# ratios, and peak resident memory at 1,000 and 1,000,000 rows.
source "$(dirname "$0")/common.sh"
make_sqlite_table "$data/big.db" 1000000
make_sqlite_table "$data/small.db" 1000
start_pg_server
for n in 1000 1000000; do
  psql_cmd -c "create table t_$n as select g as k, 'item ' || g as s, g * 0.25::real as r,
    case when g % 7 = 0 then null else 'note number ' || g end as n, (g % 100)::smallint as i from generate_series(1, $n) g" >/dev/null
done
psql_cmd -c "vacuum analyze" >/dev/null
pg_conn="Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=postgres;UID=postgres;CommLog=0;Debug=0;UseDeclareFetch=1;Fetch=10000"

# run PROGRAM ROWS: one timed export to a new file; prints "seconds KiB".
run() {
  local db=$data/big.db table=t_1000000
  [ "$2" = 1000 ] && db=$data/small.db table=t_1000
  rm -f "$data/export.csv"
  case "$1" in
    console-sqlite) echo "select * from t" >"$data/export.sql"
      "$measure" "$data/export.sql" "$data/export.csv" build-bench/odbc-console --csv "Driver=SQLite3;Database=$db;StepAPI=1" ;;
    sqlite3) "$measure" /dev/null "$data/export.csv" sqlite3 -csv -header "$db" "select * from t" ;;
    console-pg) echo "select * from $table" >"$data/export.sql"
      "$measure" "$data/export.sql" "$data/export.csv" build-bench/odbc-console --csv "$pg_conn" ;;
    console-pg-ansi) echo "select * from $table" >"$data/export.sql"
      "$measure" "$data/export.sql" "$data/export.csv" build-bench/odbc-console --csv "${pg_conn/PostgreSQL Unicode/PostgreSQL ANSI}" ;;
    console-pg-lc-c) echo "select * from $table" >"$data/export.sql"
      LC_ALL=C "$measure" "$data/export.sql" "$data/export.csv" build-bench/odbc-console --csv "$pg_conn" ;;
    floor-sqlite) "$measure" /dev/null /dev/null build-bench/fetch_floor --export "Driver=SQLite3;Database=$db;StepAPI=1" "select * from t" ;;
    floor-pg) "$measure" /dev/null /dev/null build-bench/fetch_floor --export "$pg_conn" "select * from $table" ;;
    psql) "$measure" /dev/null "$data/export.csv" psql -X -q --csv -h 127.0.0.1 -p "$port" -U postgres -d postgres \
      -v FETCH_COUNT=10000 -c "select * from $table" ;;
  esac
}

# The fetch floors (bound fetch loop, nothing written) show what each driver alone takes.
# Beside the default Unicode driver: psqlODBC's ANSI driver, and the Unicode driver in the C locale.
programs=(console-sqlite sqlite3 floor-sqlite console-pg psql floor-pg console-pg-ansi console-pg-lc-c)
for program in "${programs[@]}"; do : >"$data/$program.times"; done
for ((i = 1; i <= runs; i++)); do
  for program in "${programs[@]}"; do run "$program" 1000000 >>"$data/$program.times"; done
done
machine
echo "export of 1,000,000 rows x 5 columns to CSV, output to a file, medians of $runs runs"
echo "(PostgreSQL: UseDeclareFetch=1;Fetch=10000 for the console, FETCH_COUNT=10000 for psql)"
echo "                   time       peak RSS 1,000 rows   1,000,000 rows"
for program in "${programs[@]}"; do
  seconds=$(cut -d' ' -f1 "$data/$program.times" | median)
  printf '  %-15s %7.3f s %16s %16s\n' "$program" "$seconds" "$(run "$program" 1000 | max_rss)" "$(max_rss <"$data/$program.times")"
  eval "s_$(echo "$program" | tr -d -)=$seconds"
done
awk -v g="$s_consolepgansi" -v h="$s_consolepglcc" -v c="$s_consolepg" -v d="$s_psql" 'BEGIN {
  printf "  PostgreSQL ANSI driver: console/psql %.3f; Unicode driver with LC_ALL=C: console/psql %.3f\n", g / d, h / d }'
awk -v a="$s_consolesqlite" -v b="$s_sqlite3" -v c="$s_consolepg" -v d="$s_psql" -v e="$s_floorsqlite" -v f="$s_floorpg" 'BEGIN {
  printf "  console/sqlite3 %.3f   console/psql %.3f (target <= 1.50)\n", a / b, c / d
  printf "  console/fetch floor: SQLite %.3f   PostgreSQL %.3f   (target <= 1.05)\n", a / e, c / f }'
rm -f "$data/export.csv"
