#!/usr/bin/env bash
# Starts and stops the throwaway server that one suite's tests share, as ctest's fixture entries: start
# writes the server's directory and port to a state file, which the suite's tests read; stop reads it.
#   server_fixture.sh start SERVER-SCRIPT STATE-FILE
#   server_fixture.sh stop SERVER-SCRIPT STATE-FILE
set -euo pipefail
action=$1
script=$2
state=$3

case "$action" in
  start)
    if [ -f "$state" ]; then "$0" stop "$script" "$state"; fi  # a server a killed run left behind
    dir=$(mktemp -d /tmp/odbc-console-server-XXXXXX)
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    if ! "$script" start "$dir" "$port"; then
      "$script" stop "$dir" || true
      echo "server_fixture.sh: $script did not start a server (its files were in $dir)" >&2
      exit 1
    fi
    printf '%s\n%s\n' "$dir" "$port" >"$state"
    ;;
  stop)
    [ -f "$state" ] || exit 0
    dir=$(sed -n 1p "$state")
    rm -f "$state"
    "$script" stop "$dir"
    ;;
  *)
    echo "usage: $0 start|stop SERVER-SCRIPT STATE-FILE" >&2
    exit 2
    ;;
esac
