#!/usr/bin/env bash
# One long value: a 100 MB text value exported with --csv from SQLite, PostgreSQL and MariaDB, against the
# fetch floor that reads the same value whole into one buffer and writes nothing. Prints each peak resident
# memory and their ratio: the console holds the value once, beside the driver's own copy.
source "$(dirname "$0")/common.sh"
start_pg_server
start_mariadb_server
bytes=100000000
rm -f "$data/long.db"
printf '%s\n' "create table v(x text)" "insert into v values(printf('%.*c', $bytes, 'x'))" |
  build-bench/odbc-console -b "Driver=SQLite3;Database=$data/long.db" >/dev/null
psql_cmd -c "create table v as select repeat('x', $bytes) as x" >/dev/null
mariadb_cmd -e "set global max_allowed_packet = 1073741824"
mariadb_cmd -e "create table v(x longtext)"
mariadb_cmd --max-allowed-packet=1G -e "insert into v values (repeat('x', $bytes))"
echo "select x from v" >"$data/long.sql"

machine
echo "one value of $bytes bytes to CSV, peak resident memory in KiB, the larger of $runs runs"
echo "                console --csv     fetch floor    console/floor"
for source in sqlite pg mariadb; do
  case "$source" in
    sqlite) conn="Driver=SQLite3;Database=$data/long.db" ;;
    pg) conn="Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=$port;Database=postgres;UID=postgres" ;;
    mariadb) conn="Driver=MariaDB Unicode;Server=127.0.0.1;Port=$mdb_port;Database=test;User=root" ;;
  esac
  : >"$data/console.rss"; : >"$data/floor.rss"
  for ((i = 1; i <= runs; i++)); do
    "$measure" "$data/long.sql" "$data/long.csv" build-bench/odbc-console --csv "$conn" >>"$data/console.rss"
    "$measure" /dev/null /dev/null build-bench/fetch_floor --export "$conn" "select x from v" >>"$data/floor.rss"
  done
  # The header line "x", the value and its line end.
  [ "$(stat -c %s "$data/long.csv")" -eq $((bytes + 3)) ] || echo "  $source: the export is $(stat -c %s "$data/long.csv") bytes, not $((bytes + 3))"
  console=$(max_rss <"$data/console.rss")
  floor=$(max_rss <"$data/floor.rss")
  printf '  %-10s %14s %16s %14.3f   (target <= 1.10)\n' "$source" "$console" "$floor" "$(awk -v c="$console" -v f="$floor" 'BEGIN { print c / f }')"
done
rm -f "$data/long.csv" "$data/long.db"
