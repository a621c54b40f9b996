#!/usr/bin/env bash
# Starts or stops a throwaway PostgreSQL server for the tests, listening on 127.0.0.1 only.
#   pg_server.sh start DIR PORT   initdb in DIR (a new directory) and start the server on PORT
#   pg_server.sh halt DIR         stop the server at once, keeping its data for a restart
#   pg_server.sh restart DIR      stop the server at once (if it runs) and start it again on its data
#   pg_server.sh stop DIR         stop it and remove DIR
set -euo pipefail
action=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "pg_server.sh: no PostgreSQL server installed (Debian package postgresql)" >&2; exit 1; }

# The server refuses to run as root: as root it runs as the postgres user.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$action" in
  start)
    port=$3
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U postgres -A trust --no-sync >"$dir/initdb.log" 2>&1
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
    ;;
  halt)
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null
    ;;
  restart)
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -m immediate -w -t 60 restart >/dev/null
    ;;
  stop)
    if [ -d "$dir/data" ]; then
      as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start DIR PORT | halt DIR | restart DIR | stop DIR" >&2
    exit 2
    ;;
esac
