#!/usr/bin/env bash
# The MariaDB benchmark: a 1,000,000-row table (integer key, short text, double, text with NULLs, small
# integer) on a throwaway server, listed as a table by odbc-console against `mariadb -t`, and exported by
# odbc-console --csv against `mariadb --batch` and `mariadb --batch --quick`; each beside the fetch floor
# (the console's own result-set record and fetch strategy, writing nothing). Medians of RUNS alternating
# runs (5 by default), ratios, and peak resident memory at 1,000 and 1,000,000 rows.
source "$(dirname "$0")/common.sh"
start_mariadb_server
for n in 1000 1000000; do
  mariadb_cmd -e "create table t_$n(k int primary key, s varchar(20), r double, n varchar(30), i smallint);
    insert into t_$n select seq, concat('item ', seq), seq * 0.25, if(seq % 7 = 0, null, concat('note number ', seq)), seq % 100
    from seq_1_to_$n"
done
conn="Driver=MariaDB Unicode;Server=127.0.0.1;Port=$mdb_port;Database=test;User=root"
out=$mdb_dir/out

# run PROGRAM ROWS: one timed run to a new file; prints "seconds KiB".
run() {
  local query="select * from t_$2"
  rm -f "$out"
  printf '%s\n' "$query" >"$mdb_dir/query.sql"
  case "$1" in
    console-table) "$measure" "$mdb_dir/query.sql" "$out" build-bench/odbc-console "$conn" ;;
    floor-table) "$measure" /dev/null /dev/null build-bench/fetch_floor "$conn" "$query" ;;
    mariadb-t) "$measure" /dev/null "$out" mariadb --no-defaults -h 127.0.0.1 -P "$mdb_port" -uroot test -t -e "$query" ;;
    console-csv) "$measure" "$mdb_dir/query.sql" "$out" build-bench/odbc-console --csv "$conn" ;;
    floor-export) "$measure" /dev/null /dev/null build-bench/fetch_floor --export "$conn" "$query" ;;
    mariadb-batch) "$measure" /dev/null "$out" mariadb --no-defaults -h 127.0.0.1 -P "$mdb_port" -uroot test --batch -e "$query" ;;
    mariadb-quick) "$measure" /dev/null "$out" mariadb --no-defaults -h 127.0.0.1 -P "$mdb_port" -uroot test --batch --quick -e "$query" ;;
  esac
}

programs=(console-table floor-table mariadb-t console-csv floor-export mariadb-batch mariadb-quick)
for program in "${programs[@]}"; do : >"$mdb_dir/$program.times"; done
for ((i = 1; i <= runs; i++)); do
  for program in "${programs[@]}"; do run "$program" 1000000 >>"$mdb_dir/$program.times"; done
done
machine
echo "MariaDB $(mariadb_cmd -Nse 'select version()'), 1,000,000 rows x 5 columns, output to a file, medians of $runs runs"
echo "                   time       peak RSS 1,000 rows   1,000,000 rows"
for program in "${programs[@]}"; do
  seconds=$(cut -d' ' -f1 "$mdb_dir/$program.times" | median)
  printf '  %-15s %7.3f s %16s %16s\n' "$program" "$seconds" "$(run "$program" 1000 | max_rss)" "$(max_rss <"$mdb_dir/$program.times")"
  eval "s_$(echo "$program" | tr -d -)=$seconds"
done
awk -v ct="$s_consoletable" -v ft="$s_floortable" -v mt="$s_mariadbt" -v cc="$s_consolecsv" -v fe="$s_floorexport" \
  -v mb="$s_mariadbbatch" -v mq="$s_mariadbquick" 'BEGIN {
  printf "  listing: console/floor %.3f (target <= 1.05)   console/mariadb -t %.3f\n", ct / ft, ct / mt
  printf "  export:  console/floor %.3f (target <= 1.05)   console/mariadb --batch %.3f (target <= 0.80)   console/--batch --quick %.3f\n",
    cc / fe, cc / mb, cc / mq }'
