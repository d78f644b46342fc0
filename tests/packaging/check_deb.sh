#!/bin/sh
# Builds the Debian package with CPack and checks it with dpkg-deb: its
# control fields, exactly the expected files (the libraries with their SONAME
# links, the headers, the CMake and pkg-config files, the program, the
# documentation), and that the program and library work from the unpacked
# tree.
#
# Usage: check_deb.sh BUILD_DIR WORK_DIR CPACK VERSION LIBDIR
# (LIBDIR: the library folder under the prefix, CMAKE_INSTALL_LIBDIR.)
set -eu
build=$1 work=$2 cpack=$3 version=$4 libdir=/usr/$5

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$work/kestrum_${version}_$arch.deb
[ -f "$deb" ] || { ls "$work"; fail "no $deb"; }

# Control fields.
dpkg-deb -I "$deb" >"$work/info.txt"
field() { sed -n "s/^ $1: //p" "$work/info.txt"; }
[ "$(field Package)" = kestrum ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
for dep in libc6 libstdc++6; do
  field Depends | grep -q "$dep" || fail "Depends lacks $dep: $(field Depends)"
done
grep -q '^ Description: ' "$work/info.txt" || fail "no Description"

# Contents: exactly these files and links (links with their targets); the
# folders that hold them are not listed.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { p = $6; for (i = 7; i <= NF; ++i) p = p " " $i; print p }' |
  sed 's|^\./|/|; s|KestrumTargets-[a-z]*\.cmake$|KestrumTargets-CONFIG.cmake|' |
  sort >"$work/contents.txt"
sort >"$work/expected.txt" <<EOF
/usr/bin/kestrum
/usr/include/kestrum.h
/usr/include/quarnel.h
$libdir/cmake/Kestrum/KestrumConfig.cmake
$libdir/cmake/Kestrum/KestrumConfigVersion.cmake
$libdir/cmake/Kestrum/KestrumTargets-CONFIG.cmake
$libdir/cmake/Kestrum/KestrumTargets.cmake
$libdir/libkestrum.so -> libkestrum.so.0
$libdir/libkestrum.so.0 -> libkestrum.so.$version
$libdir/libkestrum.so.$version
$libdir/libquarnel.so -> libquarnel.so.0
$libdir/libquarnel.so.0 -> libquarnel.so.$version
$libdir/libquarnel.so.$version
$libdir/pkgconfig/kestrum.pc
/usr/share/doc/kestrum/README.md
/usr/share/doc/kestrum/docs/api.md
/usr/share/doc/kestrum/docs/bad-inputs.md
/usr/share/doc/kestrum/docs/diagnostics.md
/usr/share/doc/kestrum/examples/convert_directory.c
/usr/share/doc/kestrum/examples/live_socket_host.c
/usr/share/doc/kestrum/docs/output-format.md
/usr/share/doc/kestrum/docs/stream-format.md
/usr/share/doc/kestrum/docs/windows.md
EOF
if ! cmp -s "$work/expected.txt" "$work/contents.txt"; then
  diff "$work/expected.txt" "$work/contents.txt" || true
  fail "the package's contents differ from the expected list"
fi

# Unpacked, the program runs against the packaged library (found through its
# RUNPATH), and the library carries its SONAME and exports only the C API.
dpkg-deb -x "$deb" "$work/root"
lib=$work/root$libdir/libkestrum.so.$version
readelf -d "$lib" | grep -q 'Library soname: \[libkestrum.so.0\]' || fail "SONAME of $lib"
program=$work/root/usr/bin/kestrum
"$program" generate "$work/s.xqv" --frames 5 >/dev/null || fail "the packaged program does not run"
"$program" convert "$work/s.xqv" "$work/s.asf" >/dev/null || fail "the packaged program cannot convert"
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort | tr '\n' ' ')
[ "$exports" = "CreateRecordInstance KestrumSetDebugOutput ReleaseRecordInstance SendOneFrame StartRecord StopRecord TransferToAsf " ] ||
  fail "exports of the packaged library: $exports"
echo "$(basename "$deb"): control fields, contents and unpacked program: ok"
