#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test.
# Usage: scripts/test.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

# dpkg-dev, lintian, abigail-tools: the package and ABI checks; parallel: the
# batch recipe of docs/batch.md; groff-base: the manual page's; bsdutils:
# script(1), a terminal for the status line.
scripts/install-deps.sh dpkg-dev lintian abigail-tools parallel groff-base bsdutils
source scripts/compiler-cache.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${compiler_cache[@]}"
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure --timeout 600 -j"$(nproc)"
