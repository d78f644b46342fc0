#!/usr/bin/env bash
# Builds the packages into out/packages/:
#   kestrum_VERSION_ARCH.deb      the Debian package (library, headers, CMake
#                                 and pkg-config files, program, documentation)
#   kestrum-VERSION-win32.zip     with --windows: Kestrum.dll, Quarnel.dll,
#                                 their import libraries, the headers and the
#                                 documentation, cross-built with mingw-w64
# Usage: scripts/package.sh [--windows] [output folder, default out/packages]
set -euo pipefail
cd "$(dirname "$0")/.."
windows=0
if [ "${1:-}" = "--windows" ]; then
  windows=1
  shift
fi
out=$(mkdir -p "${1:-out/packages}" && cd "${1:-out/packages}" && pwd)
jobs=$(nproc)
((jobs <= 2)) || jobs=2

if ((windows)); then
  toolchain=$PWD/cmake/toolchain-i686-w64-mingw32.cmake
  [ -f "$toolchain" ] || { echo "no $toolchain: this tree has no Windows build" >&2; exit 1; }
  scripts/install-deps.sh g++-mingw-w64-i686
  build=build-package-windows
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKESTRUM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$jobs"
  cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$out"
else
  scripts/install-deps.sh
  build=build-package
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$jobs"
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out"
fi
rm -rf "$out/_CPack_Packages"
ls -l "$out"
