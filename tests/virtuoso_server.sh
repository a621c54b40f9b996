#!/usr/bin/env bash
# Starts or stops a throwaway Virtuoso server for the tests, listening on 127.0.0.1 only.
#   virtuoso_server.sh start DIR PORT   create a database in DIR (a new directory) and start the server on PORT
#   virtuoso_server.sh stop DIR         stop it and remove DIR
# The server's user is dba, password dba; it runs no HTTP server. The driver is not registered with the
# driver manager: start writes its path to DIR/driver, for a connection string's Driver= keyword.
set -euo pipefail
action=$1
dir=$2
command -v virtuoso-t >/dev/null || { echo "virtuoso_server.sh: no Virtuoso server installed (Debian package virtuoso-opensource-7-bin)" >&2; exit 1; }

case "$action" in
  start)
    port=$3
    driver=$(dpkg -L libvirtodbc0 2>/dev/null | grep '/virtodbc_r\.so$' | head -n 1 || true)
    [ -n "$driver" ] && [ -f "$driver" ] || { echo "virtuoso_server.sh: no Virtuoso ODBC driver installed (Debian package libvirtodbc0)" >&2; exit 1; }
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    printf '%s\n' "$driver" >"$dir/driver"
    # Every file the server writes stays in DIR; without an [HTTPServer] section it serves no HTTP.
    cat >"$dir/virtuoso.ini" <<EOF
[Database]
DatabaseFile = $dir/virtuoso.db
ErrorLogFile = $dir/virtuoso.log
LockFile = $dir/virtuoso.lck
TransactionFile = $dir/virtuoso.trx
xa_persistent_file = $dir/virtuoso.pxa
[TempDatabase]
DatabaseFile = $dir/virtuoso-temp.db
TransactionFile = $dir/virtuoso-temp.trx
[Parameters]
ServerPort = 127.0.0.1:$port
DirsAllowed = $dir
NumberOfBuffers = 2000
MaxDirtyBuffers = 1200
EOF
    # +wait: the server goes to the background and this returns once it accepts connections.
    if ! (cd "$dir" && timeout 120 virtuoso-t -c "$dir/virtuoso.ini" +wait >"$dir/start.log" 2>&1); then
      echo "virtuoso_server.sh: the server did not start; its log:" >&2
      cat "$dir/start.log" "$dir/virtuoso.log" >&2 2>/dev/null || true
      exit 1
    fi
    ;;
  stop)
    # The lock file holds the server's process id as VIRT_PID=N.
    pid=$(sed -n 's/^VIRT_PID=\([0-9][0-9]*\)$/\1/p' "$dir/virtuoso.lck" 2>/dev/null || true)
    if [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null; then
      for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start DIR PORT | stop DIR" >&2
    exit 2
    ;;
esac
