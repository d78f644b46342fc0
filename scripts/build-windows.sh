#!/usr/bin/env bash
# The 32-bit Windows build: installs what is missing (mingw-w64, Wine with its
# 32-bit loader, GoogleTest's sources, ffmpeg), cross-builds Kestrum.dll,
# Quarnel.dll, the programs and the tests with both WM writer back ends, and
# runs the checks under Wine (headless, in a fresh prefix under the build
# folder):
#   builtin   the built-in writer: every unit test, the export tables, and the
#             host program's two roads read back with ffprobe;
#   platform  the system's WM writer (Wine's is only stubs): the export
#             tables, and the host program's check that both roads fail
#             cleanly.
# Usage: scripts/build-windows.sh [build folder, default build-windows]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(mkdir -p "${1:-build-windows}" && cd "${1:-build-windows}" && pwd)
jobs=$(nproc)
((jobs <= 2)) || jobs=2
started=$SECONDS
phase() { echo "== $1 ($((SECONDS - started)) s)"; }

phase "installing what is missing"
# llvm, lld, clang: the zip's MSVC import libraries and the host that checks them.
scripts/install-deps.sh g++-mingw-w64-i686 googletest wine wine32:i386 llvm lld clang

phase "preparing the Wine prefix"
# A fresh prefix, and a Wine server (with its background services) kept up
# for the whole run, so that each test starts in a fraction of a second.
export WINEPREFIX=$root/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX"
wine cmd /c exit >/dev/null 2>&1 </dev/null
wineserver -w
wineserver -p >/dev/null 2>&1 </dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

status=0
for writer in builtin platform; do
  build=$root/$writer
  # Release: as the packages ship it (and quicker to build than with debug
  # information).
  phase "configuring and building ($writer writer)"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-i686-w64-mingw32.cmake" \
    -DKESTRUM_WRITER=$writer -DKESTRUM_WINEPREFIX="$WINEPREFIX" >/dev/null
  cmake --build "$build" -j"$jobs"
  phase "testing under Wine ($writer writer)"
  ctest --test-dir "$build" --output-on-failure -j"$jobs" || status=1
done

phase "export tables"
for dll in Kestrum.dll Quarnel.dll; do
  echo "$dll:"
  i686-w64-mingw32-objdump -p "$root/builtin/bin/$dll" |
    sed -n '/^Export Address Table/,/^$/p;/^\[Ordinal\/Name Pointer\] Table/,/^$/p'
done
phase "done"
exit $status
