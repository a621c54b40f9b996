#!/usr/bin/env bash
# Starts or stops a throwaway MariaDB server for the tests, listening on 127.0.0.1 only.
#   mariadb_server.sh start DIR PORT   install a data directory in DIR (a new directory), start on PORT
#   mariadb_server.sh stop DIR         stop it and remove DIR
# The server's root user has no password; database "test" is created empty.
set -euo pipefail
action=$1
dir=$2
[ -x /usr/sbin/mariadbd ] || { echo "mariadb_server.sh: no MariaDB server installed (Debian package mariadb-server)" >&2; exit 1; }

case "$action" in
  start)
    port=$3
    mkdir -p "$dir"
    user=$(id -un)
    # The server refuses to run as root unless told to: as root it runs as the mysql user.
    if [ "$(id -u)" -eq 0 ]; then user=mysql; chown mysql: "$dir"; fi
    mariadb-install-db --no-defaults --user="$user" --datadir="$dir/data" --auth-root-authentication-method=normal \
      --skip-test-db >"$dir/install.log" 2>&1
    /usr/sbin/mariadbd --no-defaults --user="$user" --datadir="$dir/data" --socket="$dir/mysqld.sock" \
      --pid-file="$dir/mysqld.pid" --port="$port" --bind-address=127.0.0.1 --skip-name-resolve \
      --innodb-flush-log-at-trx-commit=0 --innodb-buffer-pool-size=64M --skip-log-bin \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci >"$dir/server.log" 2>&1 &
    for _ in $(seq 1 300); do
      if mariadb --no-defaults --socket="$dir/mysqld.sock" -uroot -e "create database if not exists test" 2>/dev/null; then
        exit 0
      fi
      sleep 0.2
    done
    echo "mariadb_server.sh: the server did not start; its log:" >&2
    cat "$dir/server.log" >&2
    exit 1
    ;;
  stop)
    if [ -f "$dir/mysqld.pid" ]; then
      pid=$(cat "$dir/mysqld.pid")
      kill -KILL "$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start DIR PORT | stop DIR" >&2
    exit 2
    ;;
esac
