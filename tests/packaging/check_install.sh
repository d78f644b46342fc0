#!/bin/sh
# Installs the build into a temporary prefix, moves the whole installation
# elsewhere (nothing in it may depend on where it was installed), and builds a
# small C host against it twice: with CMake's find_package(Kestrum) and with
# pkg-config. Both hosts convert a generated stream (made by the installed
# kestrum program) on the file road and record it on the live road; the four
# files must hold the same sample payloads.
#
# Usage: check_install.sh BUILD_DIR WORK_DIR HOST_SOURCE_DIR C_COMPILER CMAKE GENERATOR
set -eu
build=$1 work=$2 host_source=$3 cc=$4 cmake=$5 generator=$6

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$work/installed" >"$work/install.log"
mv "$work/installed" "$work/prefix"
prefix=$work/prefix

# The layout, and the library's SONAME behind its links.
for f in include/kestrum.h include/quarnel.h bin/kestrum lib/pkgconfig/kestrum.pc \
  lib/cmake/Kestrum/KestrumConfig.cmake lib/cmake/Kestrum/KestrumConfigVersion.cmake \
  share/doc/kestrum/README.md; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done
for lib in kestrum quarnel; do
  [ -L "$prefix/lib/lib$lib.so" ] || fail "lib$lib.so is not a link"
  [ "$(readlink "$prefix/lib/lib$lib.so")" = "lib$lib.so.0" ] || fail "lib$lib.so -> ?"
  real=$(readlink "$prefix/lib/lib$lib.so.0") || fail "lib$lib.so.0 is not a link"
  case $real in lib$lib.so.0.*.*) ;; *) fail "lib$lib.so.0 -> $real" ;; esac
  soname=$(readelf -d "$prefix/lib/$real" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "lib$lib.so.0" ] || fail "SONAME of $real is '$soname'"
done

# The installed program, found and run from the moved prefix.
"$prefix/bin/kestrum" generate "$work/stream.xqv" --frames 50 --video-only \
  --random-state 11 >/dev/null || fail "the installed kestrum program does not run"

# A host through find_package.
"$cmake" -S "$host_source" -B "$work/host-cmake" -G "$generator" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" >"$work/host-cmake.log" 2>&1 ||
  { cat "$work/host-cmake.log"; fail "configuring the host with find_package(Kestrum)"; }
"$cmake" --build "$work/host-cmake" >>"$work/host-cmake.log" 2>&1 ||
  { cat "$work/host-cmake.log"; fail "building the host against Kestrum::kestrum"; }
"$work/host-cmake/kestrum_installed_host" "$work/stream.xqv" "$work/cmake-file.asf" \
  "$work/cmake-live.asf" 1000 || fail "the find_package host failed"

# A host through pkg-config.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[ "$(pkg-config --modversion kestrum)" = "$(sed -n 's/^Version: //p' "$prefix/lib/pkgconfig/kestrum.pc")" ] ||
  fail "pkg-config does not read kestrum.pc"
# shellcheck disable=SC2046
"$cc" -o "$work/host-pkg-config" "$host_source/host.c" $(pkg-config --cflags --libs kestrum) ||
  fail "building the host with pkg-config"
LD_LIBRARY_PATH="$prefix/lib" "$work/host-pkg-config" "$work/stream.xqv" \
  "$work/pc-file.asf" "$work/pc-live.asf" 777 || fail "the pkg-config host failed"

# Four files, one payload: each road's samples carry the stream's blocks.
payloads() {
  "$prefix/bin/kestrum" inspect "$1" | sed -n 's/.* \([0-9][0-9]*\) samples.*/\1/p'
  if command -v ffprobe >/dev/null; then
    ffprobe -v error -show_data_hash MD5 -show_entries packet=data_hash -of csv=p=0 "$1"
  fi
}
want=$(payloads "$work/cmake-file.asf")
[ -n "$want" ] || fail "cmake-file.asf holds no samples"
for f in cmake-live pc-file pc-live; do
  [ "$(payloads "$work/$f.asf")" = "$want" ] || fail "$f.asf differs from cmake-file.asf"
done
echo "installed into a prefix, moved, and built against with find_package and pkg-config: ok"
