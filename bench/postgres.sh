#!/usr/bin/env bash
# The PostgreSQL listing benchmark: odbc-console against psql's aligned table and psql -A on a throwaway
# server, for a table's columns and for unnamed expressions over generate_series, once with the default
# connection string and once with UseDeclareFetch=1;Fetch=10000 (psql with FETCH_COUNT=10000). Medians of
# RUNS alternating runs (5 by default) at 1,000,000 rows, the time at 100,000 rows, ratios and peak memory.
source "$(dirname "$0")/common.sh"
start_pg_server
pg_out=$pg_dir/bench
mkdir -p "$pg_out"

for n in 100000 1000000; do
  psql_cmd -c "create table big_$n as select g as k, 'name ' || g as s, (g * 1.5)::numeric as n,
    case when g % 7 = 0 then null else 'note number ' || g end as t from generate_series(1, $n) g" >/dev/null
done
psql_cmd -c "vacuum analyze" >/dev/null

base="Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=postgres;UID=postgres;CommLog=0;Debug=0"
query_table() { echo "select * from big_$1"; }
query_exprs() {
  echo "select g, 'name ' || g, (g * 1.5)::numeric, case when g % 7 = 0 then null else 'note number ' || g end from generate_series(1, $1) g"
}

# run PROGRAM MODE QUERY: one timed listing to a new file; prints "seconds KiB".
run() {
  local program=$1 mode=$2 query=$3 conn=$base fetch=()
  if [ "$mode" = declare ]; then conn="$base;UseDeclareFetch=1;Fetch=10000"; fetch=(-v FETCH_COUNT=10000); fi
  rm -f "$pg_out/out"
  case "$program" in
    console) printf '%s\n' "$query" >"$pg_out/query.sql"; "$measure" "$pg_out/query.sql" "$pg_out/out" build-bench/odbc-console "$conn" ;;
    psql) "$measure" /dev/null "$pg_out/out" psql -X -q -P pager=off -h 127.0.0.1 -p "$port" -U postgres -d postgres "${fetch[@]}" -c "$query" ;;
    psql-A) "$measure" /dev/null "$pg_out/out" psql -X -q -A -h 127.0.0.1 -p "$port" -U postgres -d postgres "${fetch[@]}" -c "$query" ;;
    floor) "$measure" /dev/null /dev/null build-bench/fetch_floor "$conn" "$query" ;;
  esac
}

machine
echo "PostgreSQL $(psql_cmd -Atc 'show server_version'), 4 columns (integer, short text, numeric, text with NULLs), output to a file, medians of $runs runs"
for mode in default declare; do
  for shape in table exprs; do
    for program in console psql psql-A floor; do : >"$pg_out/$program.times"; : >"$pg_out/$program.small"; done
    for ((i = 1; i <= runs; i++)); do
      for program in console psql psql-A floor; do
        run "$program" "$mode" "$(query_$shape 1000000)" >>"$pg_out/$program.times"
        run "$program" "$mode" "$(query_$shape 100000)" >>"$pg_out/$program.small"
      done
    done
    label="$mode connection string"
    [ "$mode" = declare ] && label="UseDeclareFetch=1;Fetch=10000 (psql FETCH_COUNT=10000)"
    [ "$shape" = table ] && what="select * from a table" || what="unnamed expressions over generate_series"
    echo
    echo "$what, $label:"
    echo "                 100,000 rows   1,000,000 rows   growth x   peak RSS 100k / 1M (KiB)"
    for program in console psql psql-A floor; do
      small=$(cut -d' ' -f1 "$pg_out/$program.small" | median)
      big=$(cut -d' ' -f1 "$pg_out/$program.times" | median)
      printf '  %-12s %10.3f s %14.3f s %10.2f   %s / %s\n' "$program" "$small" "$big" \
        "$(awk -v a="$small" -v b="$big" 'BEGIN { print b / a }')" "$(max_rss <"$pg_out/$program.small")" "$(max_rss <"$pg_out/$program.times")"
      eval "big_$(echo "$program" | tr -d -)=$big"
    done
    awk -v c="$big_console" -v p="$big_psql" -v a="$big_psqlA" -v f="$big_floor" -v m="$mode" 'BEGIN {
      printf "  console/psql-aligned %.3f (target <= %s)   console/psql -A %.3f   console/floor %.3f (target <= 1.05)\n",
        c / p, m == "declare" ? "1.00" : "1.10", c / a, c / f }'
  done
done
