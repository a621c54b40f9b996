#!/usr/bin/env bash
# Installs what the tests need, builds odbc-console and its tests, and runs every test through ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh test
cmake -S . -B build -DODBC_CONSOLE_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j2
