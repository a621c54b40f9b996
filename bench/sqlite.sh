#!/usr/bin/env bash
# The SQLite listing benchmark: odbc-console against the fetch floor (the same bindings and fetch loop, printing
# nothing) and against unixODBC's isql, on a 1,000,000-row SQLite table; medians of RUNS runs each (5 by
# default), their ratios, and peak resident memory at 1,000 and 1,000,000 rows; and the fitted table
# (--format=fit) against the table.
source "$(dirname "$0")/common.sh"
make_sqlite_table "$data/big.db" 1000000
make_sqlite_table "$data/small.db" 1000

query="select * from t"
printf '%s\n' "$query" >"$data/query.sql"
conn() { echo "Driver=SQLite3;Database=$1;StepAPI=1"; }
# Each listing goes to a new file: truncating the last one would be timed as part of the next run.
console() { rm -f "$data/console.out"; "$measure" "$data/query.sql" "$data/console.out" build-bench/odbc-console "$(conn "$1")"; }
floor() { "$measure" /dev/null /dev/null build-bench/fetch_floor "$(conn "$1")" "$query"; }
fitted() { rm -f "$data/fit.out"; "$measure" "$data/query.sql" "$data/fit.out" build-bench/odbc-console --format=fit "$(conn "$1")"; }
isql_run() { rm -f "$data/isql.out"; "$measure" "$data/query.sql" "$data/isql.out" isql -b -k "$(conn "$1")"; }


: >"$data/console.times"; : >"$data/floor.times"; : >"$data/isql.times"; : >"$data/fit.times"
for ((i = 1; i <= runs; i++)); do
  console "$data/big.db" >>"$data/console.times"
  fitted "$data/big.db" >>"$data/fit.times"
  floor "$data/big.db" >>"$data/floor.times"
  isql_run "$data/big.db" >>"$data/isql.times"
done
rows_listed=$(grep -c "^│ " "$data/console.out" || true)
console_s=$(cut -d' ' -f1 "$data/console.times" | median)
floor_s=$(cut -d' ' -f1 "$data/floor.times" | median)
isql_s=$(cut -d' ' -f1 "$data/isql.times" | median)
fit_s=$(cut -d' ' -f1 "$data/fit.times" | median)
fit_big_kib=$(max_rss <"$data/fit.times")
fit_small_kib=$(fitted "$data/small.db" | max_rss)
console_big_kib=$(max_rss <"$data/console.times")
floor_big_kib=$(max_rss <"$data/floor.times")
console_small_kib=$(console "$data/small.db" | max_rss)
floor_small_kib=$(floor "$data/small.db" | max_rss)
rm -f "$data/console.out" "$data/isql.out" "$data/fit.out"

machine
echo "listing 1,000,000 rows (select * from t, 5 columns, LC_ALL=C.UTF-8, output to a file), medians of $runs runs:"
printf '  odbc-console  %8.3f s\n  fetch floor   %8.3f s\n  isql          %8.3f s\n' "$console_s" "$floor_s" "$isql_s"
awk -v c="$console_s" -v f="$floor_s" -v i="$isql_s" 'BEGIN {
  printf "  console/floor %8.3f   (target <= 1.05)\n  console/isql  %8.3f   (target <= 0.60)\n", c / f, c / i }'
echo "peak resident memory, KiB:      1,000 rows   1,000,000 rows   growth"
printf '  odbc-console  %14s %16s %8s\n' "$console_small_kib" "$console_big_kib" "$((console_big_kib - console_small_kib))"
printf '  fetch floor   %14s %16s %8s\n' "$floor_small_kib" "$floor_big_kib" "$((floor_big_kib - floor_small_kib))"
printf '  fitted table  %14s %16s %8s\n' "$fit_small_kib" "$fit_big_kib" "$((fit_big_kib - fit_small_kib))"
growth_excess=$(((console_big_kib - console_small_kib) - (floor_big_kib - floor_small_kib)))
echo "  console growth beyond the floor's: $growth_excess KiB   (target <= 256)"
echo "  table lines in the last console listing: $rows_listed"
printf 'the fitted table (--format=fit), same listing:\n  fit           %8.3f s\n' "$fit_s"
awk -v f="$fit_s" -v c="$console_s" 'BEGIN { printf "  fit/table     %8.3f   (target <= 1.05)\n", f / c }'
