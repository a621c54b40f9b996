#!/usr/bin/env bash
# Installs what the tests need, builds odbc-console and its tests twice (as shipped, and with clang's
# AddressSanitizer and UndefinedBehaviorSanitizer plus the rendering fuzzer), and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh test
jobs=$(nproc)

echo "== build: as shipped"
cmake -S . -B build -DODBC_CONSOLE_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
echo "== tests: as shipped (with valgrind memcheck over one session)"
ctest --test-dir build --output-on-failure -j2

echo "== build: sanitizers"
CC=clang CXX=clang++ cmake -S . -B build-sanitize -DODBC_CONSOLE_SANITIZE=ON -DODBC_CONSOLE_TESTS=ON \
  -DODBC_CONSOLE_BENCH=OFF >/dev/null
cmake --build build-sanitize -j"$jobs"
echo "== tests: AddressSanitizer, UndefinedBehaviorSanitizer and a one-minute fuzz run"
# Symbol names in every report: Debian names the symbolizer by its version. The tests send the reports of
# the consoles they start to files of their own and fail with them.
symbolizer=$(command -v llvm-symbolizer || command -v llvm-symbolizer-14 || true)
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$symbolizer}
ctest --test-dir build-sanitize --output-on-failure -j2
