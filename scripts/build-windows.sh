#!/usr/bin/env bash
# The 32-bit Windows build: installs what is missing (mingw-w64, Wine with its
# 32-bit loader, GoogleTest's sources, ffmpeg, python3), cross-builds
# Kestrum.dll, Quarnel.dll, the programs and the tests with both WM writer
# back ends, and runs the checks under Wine (headless, in a fresh prefix
# under the build folder):
#   platform  the default, shipping build: Kestrum.dll over the platform's
#             wmvcore.dll. Under Wine the programs prefer the project's own
#             wmvcore.dll (the built-in writer behind the platform's entry
#             points, built beside them): every unit test, the export
#             tables, the host program's and the kestrum program's two roads
#             read back with ffprobe; over Wine's own wmvcore.dll (only
#             stubs) both roads must fail cleanly.
#   builtin   Kestrum.dll with the writer inside: the export tables, the
#             host program's and the kestrum program's roads, the zip. Its
#             unit tests would run the same classes as the platform build's
#             (which reach them through wmvcore.dll): not built here.
# Then it builds the Linux library and programs (Release) and holds the
# files and diagnostic lines of all three builds' host and kestrum program
# runs against each other (tests/host/compare_builds.sh): byte for byte, file
# ID and creation date masked.
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
scripts/install-deps.sh g++-mingw-w64-i686 googletest wine wine32:i386 llvm lld clang python3

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

source scripts/compiler-cache.sh
status=0
for writer in platform builtin; do
  build=$root/$writer
  unit_tests=ON
  [ $writer = platform ] || unit_tests=OFF
  # Release: as the packages ship it (and quicker to build than with debug
  # information).
  phase "configuring and building ($writer writer)"
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-i686-w64-mingw32.cmake" \
    -DKESTRUM_WRITER=$writer -DKESTRUM_BUILD_UNIT_TESTS=$unit_tests \
    -DKESTRUM_WINEPREFIX="$WINEPREFIX" "${compiler_cache[@]}" >/dev/null
  cmake --build "$build" -j"$jobs"
  phase "testing under Wine ($writer writer)"
  ctest --test-dir "$build" --output-on-failure --timeout 600 -j"$jobs" || status=1
done

# The same host program and kestrum program runs on Linux, for the
# comparison.
phase "building and running the Linux programs"
cmake -S . -B "$root/linux" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUM_BUILD_UNIT_TESTS=OFF \
  -DKESTRUM_BUILD_EXAMPLES=OFF "${compiler_cache[@]}" >/dev/null
cmake --build "$root/linux" -j"$jobs" --target kestrum_host kestrum_cli
ctest --test-dir "$root/linux" --output-on-failure --timeout 600 -R '^kestrum_(host|program)_roads$' || status=1

phase "comparing the three builds' files and diagnostic lines"
tests/host/compare_builds.sh "$root/linux" "$root/builtin" "$root/platform" || status=1

phase "export tables"
for dll in builtin/bin/Kestrum.dll builtin/bin/Quarnel.dll platform/bin/wmvcore.dll; do
  echo "$dll:"
  i686-w64-mingw32-objdump -p "$root/$dll" |
    sed -n '/^Export Address Table/,/^$/p;/^\[Ordinal\/Name Pointer\] Table/,/^$/p'
done
phase "done"
exit $status
