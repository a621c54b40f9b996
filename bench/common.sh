# What the benchmarks share, sourced by each: the Release build, the medians, the sample data and a server.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-5}
scripts/install-packages.sh bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DODBC_CONSOLE_TESTS=OFF -DODBC_CONSOLE_BENCH=ON >/dev/null
cmake --build build-bench -j"$(nproc)" >/dev/null
export LC_ALL=C.UTF-8
data=bench/data
mkdir -p "$data"
measure=build-bench/measure

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
max_rss() { awk '{ if ($2 > m) m = $2 } END { print m }'; }
machine() {
  echo "machine: $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
}

# Creates, once, a table of $2 rows in SQLite database $1: key, short text, real, text NULL every seventh row, small int.
make_sqlite_table() {
  [ -s "$1" ] && return 0
  printf '%s\n' \
    "create table t(k integer primary key, s varchar(20), r real, n varchar(30), i smallint)" \
    "with recursive c(x) as (select 1 union all select x + 1 from c where x < $2) insert into t select x, 'item ' || x, x * 0.25, case when x % 7 = 0 then null else 'note number ' || x end, x % 100 from c" |
    build-bench/odbc-console -b "Driver=SQLite3;Database=$1" >/dev/null
}

# Starts a throwaway PostgreSQL server, stopped when the script exits; sets $port and psql_cmd runs SQL there.
start_pg_server() {
  pg_dir=$(mktemp -d /tmp/odbc-console-bench-pg-XXXXXX)
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  trap 'tests/pg_server.sh stop "$pg_dir"; [ -n "${mdb_dir:-}" ] && tests/mariadb_server.sh stop "$mdb_dir"' EXIT
  tests/pg_server.sh start "$pg_dir" "$port"
}
psql_cmd() { psql -X -q -h 127.0.0.1 -p "$port" -U postgres -d postgres "$@"; }

# Starts a throwaway MariaDB server, stopped when the script exits (with a PostgreSQL one if both run); sets
# $mdb_port and mariadb_cmd runs SQL in its database "test".
start_mariadb_server() {
  mdb_dir=$(mktemp -d /tmp/odbc-console-bench-mdb-XXXXXX)
  mdb_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  trap 'tests/mariadb_server.sh stop "$mdb_dir"; [ -n "${pg_dir:-}" ] && tests/pg_server.sh stop "$pg_dir"' EXIT
  tests/mariadb_server.sh start "$mdb_dir" "$mdb_port"
}
mariadb_cmd() { mariadb --no-defaults -h 127.0.0.1 -P "$mdb_port" -uroot test "$@"; }
