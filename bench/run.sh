#!/usr/bin/env bash
# Runs every benchmark: SQLite listing, PostgreSQL listing, CSV export, MariaDB listing and export, SQL files, JSON export. RUNS=N sets the runs of each.
set -euo pipefail
cd "$(dirname "$0")"
./sqlite.sh
echo
./postgres.sh
echo
./export.sh
echo
./mariadb.sh
echo
./splitter.sh
echo
./long_value.sh
echo
./json.sh
