#!/usr/bin/env bash
# The JSON benchmark: 1,000,000 rows of a SQLite table exported as JSON Lines against the same export as
# CSV by odbc-console, alternating, medians of RUNS runs (5 by default); target: JSON at most 1.10x CSV.
source "$(dirname "$0")/common.sh"
make_sqlite_table "$data/big.db" 1000000
conn="Driver=SQLite3;Database=$data/big.db;StepAPI=1"
echo "select * from t" >"$data/json.sql"

# run FORMAT: one timed export to a new file; prints "seconds KiB".
run() {
  rm -f "$data/export.$1"
  "$measure" "$data/json.sql" "$data/export.$1" build-bench/odbc-console "--format=$1" "$conn"
}

formats=(csv json)
for format in "${formats[@]}"; do : >"$data/$format.times"; done
for ((i = 1; i <= runs; i++)); do
  for format in "${formats[@]}"; do run "$format" >>"$data/$format.times"; done
done
machine
echo "export of 1,000,000 rows x 5 columns from SQLite (StepAPI) to a file, medians of $runs alternating runs"
echo "                time       peak RSS    output"
for format in "${formats[@]}"; do
  seconds=$(cut -d' ' -f1 "$data/$format.times" | median)
  printf '  %-8s %7.3f s %10s KiB %9s bytes\n' "$format" "$seconds" "$(max_rss <"$data/$format.times")" "$(stat -c %s "$data/export.$format")"
  eval "s_$format=$seconds"
done
awk -v j="$s_json" -v c="$s_csv" 'BEGIN { printf "  json/csv %.3f (target <= 1.10)\n", j / c }'
rm -f "$data/export.csv" "$data/export.json"
