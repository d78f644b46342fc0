#!/usr/bin/env bash
# Builds the packages into out/packages/:
#   libkestrum0_VERSION-REVISION_ARCH.deb     the shared libraries
#   libkestrum-dev_VERSION-REVISION_ARCH.deb  headers, development links, CMake
#                                             and pkg-config files, API docs
#   kestrum_VERSION-REVISION_ARCH.deb         the kestrum program
#       built (Release) with Debian's hardening flags (dpkg-buildflags) and
#       checked with lintian, which must report no error;
#   kestrum-VERSION-win32.zip                 with --windows: Kestrum.dll,
#       Quarnel.dll, kestrum.exe, import libraries for MSVC (Kestrum.lib,
#       Quarnel.lib) and mingw-w64 (libkestrum.dll.a, libquarnel.dll.a), the
#       CMake package, the headers and the documentation, cross-built with
#       mingw-w64 (the platform's WM writer).
# --from BUILD packages an existing build instead of making one of its own
# (build-package, build-package-windows), for example build-windows/platform
# after scripts/build-windows.sh: it is brought up to date, not rebuilt.
# Usage: scripts/package.sh [--windows] [--from BUILD] [output folder, default out/packages]
set -euo pipefail
cd "$(dirname "$0")/.."
windows=0 from=
while (($#)); do
  case $1 in
    --windows) windows=1 ;;
    --from) from=$2; shift ;;
    *) break ;;
  esac
  shift
done
out=$(mkdir -p "${1:-out/packages}" && cd "${1:-out/packages}" && pwd)
jobs=$(nproc)
((jobs <= 2)) || jobs=2

if ((windows)); then
  toolchain=$PWD/cmake/toolchain-i686-w64-mingw32.cmake
  [ -f "$toolchain" ] || { echo "no $toolchain: this tree has no Windows build" >&2; exit 1; }
  # llvm: llvm-dlltool makes the MSVC import libraries.
  scripts/install-deps.sh g++-mingw-w64-i686 llvm
  build=${from:-build-package-windows}
  [ -n "$from" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKESTRUM_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"$jobs"
  cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$out"
else
  scripts/install-deps.sh dpkg-dev lintian
  build=${from:-build-package}
  if [ -z "$from" ]; then
    # Debian's flags: fortified functions, stack protector, read-only
    # relocations bound at load time.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUM_BUILD_TESTS=OFF \
      -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
      -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
  fi
  cmake --build "$build" -j"$jobs"
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  arch=$(dpkg --print-architecture)
  debs=("$out"/{"libkestrum${version%%.*}",libkestrum-dev,kestrum}_"$version"-*_"$arch".deb)
  lintian_status=0
  lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "${debs[@]}" \
    >"$build/lintian.txt" 2>&1 || lintian_status=$?
  echo "lintian (errors fail, warnings are shown):"
  grep -v 'running with root privileges' "$build/lintian.txt" || true
  ((lintian_status == 0)) || { echo "lintian reports errors" >&2; exit 1; }
fi
rm -rf "$out/_CPack_Packages"
ls -l "$out"
