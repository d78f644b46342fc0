#!/bin/sh
# Installs the build into a temporary prefix, moves the whole installation
# elsewhere (nothing in it may depend on where it was installed), checks its
# layout and builds hosts against it with find_package and pkg-config
# (build_hosts.sh).
#
# Usage: check_install.sh BUILD_DIR WORK_DIR HOST_SOURCE_DIR C_COMPILER CMAKE GENERATOR LIBDIR
# (LIBDIR: the library folder under the prefix, CMAKE_INSTALL_LIBDIR.)
set -eu
build=$1 work=$2 host_source=$3 cc=$4 cmake=$5 generator=$6 libdir=$7

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$cmake" --install "$build" --prefix "$work/installed" >"$work/install.log"
mv "$work/installed" "$work/prefix"
prefix=$work/prefix

# The layout, and the libraries' SONAMEs behind their links. The Debian
# packages' own files stay out of a plain installation.
for f in include/kestrum.h include/quarnel.h bin/kestrum $libdir/pkgconfig/kestrum.pc \
  $libdir/cmake/Kestrum/KestrumConfig.cmake $libdir/cmake/Kestrum/KestrumConfigVersion.cmake \
  share/doc/kestrum/README.md share/doc/kestrum/CHANGELOG.md; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done
[ ! -e "$prefix/share/doc/kestrum/copyright" ] || fail "a Debian copyright file is installed"
for lib in kestrum quarnel; do
  [ -L "$prefix/$libdir/lib$lib.so" ] || fail "lib$lib.so is not a link"
  [ "$(readlink "$prefix/$libdir/lib$lib.so")" = "lib$lib.so.0" ] || fail "lib$lib.so -> ?"
  real=$(readlink "$prefix/$libdir/lib$lib.so.0") || fail "lib$lib.so.0 is not a link"
  case $real in lib$lib.so.0.*.*) ;; *) fail "lib$lib.so.0 -> $real" ;; esac
  soname=$(readelf -d "$prefix/$libdir/$real" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  [ "$soname" = "lib$lib.so.0" ] || fail "SONAME of $real is '$soname'"
done

"$(dirname "$0")/build_hosts.sh" "$prefix" "$libdir" "$work/hosts" "$host_source" "$cc" \
  "$cmake" "$generator"
echo "installed into a prefix, moved, and built against with find_package and pkg-config: ok"
