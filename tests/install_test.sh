#!/usr/bin/env bash
# Checks the manual page (no warnings from man) and the layout of `cmake --install` into a temporary prefix.
#   install_test.sh SOURCE-DIR BUILD-DIR
set -euo pipefail
source_dir=$1
build_dir=$2
prefix=$(mktemp -d /tmp/odbc-console-install-XXXXXX)
trap 'rm -rf "$prefix"' EXIT

warnings=$(MANWIDTH=80 man --warnings -l "$source_dir/odbc-console.1" 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man reports warnings:" >&2; echo "$warnings" >&2; exit 1; }
# The page names the version the program reports.
version=$("$build_dir/odbc-console" --version)
grep -q "^\.TH ODBC-CONSOLE 1 \".*\" \"$version\"" "$source_dir/odbc-console.1" ||
  { echo "the manual page's .TH line does not name '$version'" >&2; exit 1; }

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
for file in bin/odbc-console share/man/man1/odbc-console.1.gz share/doc/odbc-console/copyright \
  share/doc/odbc-console/changelog.gz; do
  [ -f "$prefix/$file" ] || { echo "missing after install: $file" >&2; find "$prefix" >&2; exit 1; }
done
[ "$("$prefix/bin/odbc-console" --version)" = "$version" ] || { echo "the installed program does not run" >&2; exit 1; }
MANWIDTH=80 man -l "$prefix/share/man/man1/odbc-console.1.gz" 2>/dev/null | grep -q "interactive SQL console" ||
  { echo "the installed manual page does not read" >&2; exit 1; }
echo "manual page without warnings; install layout complete"
