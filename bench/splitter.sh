#!/usr/bin/env bash
# The SQL file benchmark: the splitter's speed on a 100 MB file of 1,000,000 short inserts, then -f on that
# file into SQLite in one transaction against a plain loop of SQLExecDirect over the same statements and
# against the sqlite3 shell; medians of RUNS runs each (5 by default) and their ratios.
source "$(dirname "$0")/common.sh"
file="$data/inserts.sql"
if [ ! -s "$file" ]; then
  # About 100 bytes a statement: an id, a text with a ';' and a quote inside, a real.
  awk 'BEGIN {
    print "begin;"
    print "create table t(id integer primary key, name text, price real, note text);"
    for (i = 1; i <= 1000000; i++)
      printf "insert into t values(%d, '\''item; %d'\'''\''s name'\'', %d.25, '\''a note of some length %08d'\'');\n", i, i, i % 1000, i
    print "commit;"
  }' >"$file"
fi
bytes=$(stat -c %s "$file")
split=$(build-bench/split_speed "$file" SQLite "$runs")
split_mbs=${split% *}
statements=${split#* }

fresh() { rm -f "$data/load.db"; }
conn="Driver=SQLite3;Database=$data/load.db"
: >"$data/console_f.times"; : >"$data/exec_loop.times"; : >"$data/sqlite3.times"
for ((i = 1; i <= runs; i++)); do
  fresh; "$measure" /dev/null /dev/null build-bench/odbc-console -f "$file" "$conn" >>"$data/console_f.times"
  fresh; "$measure" "$file" /dev/null build-bench/exec_loop "$conn" >>"$data/exec_loop.times"
  fresh; "$measure" "$file" /dev/null sqlite3 "$data/load.db" >>"$data/sqlite3.times"
done
rows=$(sqlite3 "$data/load.db" "select count(*) from t")
fresh
console_s=$(cut -d' ' -f1 "$data/console_f.times" | median)
loop_s=$(cut -d' ' -f1 "$data/exec_loop.times" | median)
sqlite3_s=$(cut -d' ' -f1 "$data/sqlite3.times" | median)

machine
printf 'splitting %s bytes (%s statements) in one go, best of %s runs: %s MB/s   (target >= 200)\n' \
  "$bytes" "$statements" "$runs" "$split_mbs"
echo "loading them into SQLite in one transaction, medians of $runs runs ($rows rows loaded):"
printf '  odbc-console -f      %8.3f s\n  SQLExecDirect loop   %8.3f s\n  sqlite3 db < file    %8.3f s\n' \
  "$console_s" "$loop_s" "$sqlite3_s"
awk -v c="$console_s" -v l="$loop_s" -v s="$sqlite3_s" 'BEGIN {
  printf "  console/loop     %8.3f   (target <= 1.10)\n  console/sqlite3  %8.3f\n", c / l, c / s }'
