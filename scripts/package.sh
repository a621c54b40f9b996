#!/usr/bin/env bash
# Builds the Debian package: installs what the build needs, builds a Release tree with Debian's hardening
# flags, runs CPack's DEB generator, and prints the .deb's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-packages.sh package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
export CPPFLAGS="$(dpkg-buildflags --get CPPFLAGS)"
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
rm -rf build-package
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DODBC_CONSOLE_TESTS=OFF -DODBC_CONSOLE_BENCH=OFF >/dev/null
cmake --build build-package -j"$(nproc)" >/dev/null
(cd build-package && cpack -G DEB >/dev/null)
ls "$PWD"/build-package/odbc-console_*.deb
