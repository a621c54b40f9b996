#!/usr/bin/env bash
# Installs what is missing, builds odbc-console, creates the sample shop database and starts the console on it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh run
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target odbc-console >/dev/null

# The console itself loads the sample: the SQL file has one statement per line.
rm -f build/shop.db
build/odbc-console "Driver=SQLite3;Database=build/shop.db" <scripts/shop.sql >/dev/null 2>build/shop-load.log || true
if grep -q '^\[' build/shop-load.log; then
  cat build/shop-load.log >&2
  exit 1
fi
exec build/odbc-console "Driver=SQLite3;Database=build/shop.db"
