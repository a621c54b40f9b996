#!/usr/bin/env bash
# Installs the Debian packages odbc-console needs: "run" to build and use it, "test" for the test suite too,
# "package" to build the .deb, "bench" for the benchmarks. The sanitizer build's reports, and its suppressions
# of drivers' own leaks, need llvm-symbolizer: llvm-14 holds it (as llvm-symbolizer-14).
set -euo pipefail

run_packages=(g++ cmake make unixodbc unixodbc-dev libedit-dev libsqliteodbc)
test_packages=(googletest libgtest-dev python3 man-db postgresql odbc-postgresql mariadb-server odbc-mariadb virtuoso-opensource-7-bin libvirtodbc0 clang libclang-rt-14-dev llvm-14 valgrind sqlite3 libsqlite3-dev postgresql-client mariadb-client odbc-mdbtools)

case "${1:-run}" in
  run) wanted=("${run_packages[@]}") ;;
  test) wanted=("${run_packages[@]}" "${test_packages[@]}") ;;
  package) wanted=("${run_packages[@]}" dpkg-dev file) ;;
  bench) wanted=("${run_packages[@]}" postgresql odbc-postgresql mariadb-server mariadb-client odbc-mariadb sqlite3 python3) ;;
  *) echo "usage: $0 [run|test|package|bench]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
