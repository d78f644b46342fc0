#!/bin/sh
# Builds the Debian packages with CPack and checks them as Debian expects:
#   - libkestrumMAJOR (the libraries), libkestrum-dev (headers, development
#     links, CMake and pkg-config files, documentation) and kestrum (the
#     program): their control fields, and exactly the expected files in each,
#     the libraries in the multiarch folder, a copyright file and the
#     changelogs in each package's /usr/share/doc folder;
#   - no binary carries a RUNPATH; the libraries carry their SONAMEs and
#     export only the C API;
#   - lintian (when installed) reports no error;
#   - as root: installed with apt-get into a throwaway root, the program and
#     hosts built against the packages work, and removing them leaves nothing
#     behind (deb_root.sh).
#
# Usage: check_deb.sh BUILD_DIR WORK_DIR CPACK VERSION LIBDIR HOST_SOURCE_DIR
#                     C_COMPILER CMAKE GENERATOR [PACKAGE:PATH...]
# (LIBDIR: the library folder under the prefix, CMAKE_INSTALL_LIBDIR;
# PACKAGE:PATH: a further file expected in PACKAGE, such as the manual page.)
set -eu
build=$1 work=$2 cpack=$3 version=$4 libdir=/usr/$5 host_source=$6 cc=$7 cmake=$8 generator=$9
shift 9
extras="$*"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
runtime=libkestrum${version%%.*}
debs=
for package in $runtime libkestrum-dev kestrum; do
  set -- "$work/${package}_$version"-*"_$arch.deb"
  [ $# = 1 ] && [ -f "$1" ] || { ls "$work"; fail "no single ${package}_$version-REVISION_$arch.deb"; }
  debs="$debs $1"
done
# The changelog's latest entry is the packages' version.
full_version=$(dpkg-deb -f "$work/kestrum_$version"-*.deb Version)
case $full_version in "$version"-[0-9]*) ;; *) fail "Version: $full_version" ;; esac

# Control fields.
for deb in $debs; do
  package=$(dpkg-deb -f "$deb" Package)
  field() { dpkg-deb -f "$deb" "$1"; }
  case $package in
    "$runtime") section=libs plain="libc6 libstdc++6" exact= ;;
    libkestrum-dev) section=libdevel plain= exact="$runtime (= $full_version)" ;;
    kestrum) section=video plain="libc6 libstdc++6" exact="$runtime (= $full_version)" ;;
  esac
  [ "$(field Version)" = "$full_version" ] || fail "$package: Version $(field Version)"
  [ "$(field Architecture)" = "$arch" ] || fail "$package: Architecture $(field Architecture)"
  [ "$(field Section)" = "$section" ] || fail "$package: Section $(field Section)"
  [ "$(field Priority)" = optional ] || fail "$package: Priority $(field Priority)"
  [ "$(field Source)" = kestrum ] || fail "$package: Source $(field Source)"
  field Maintainer | grep -Eq '^[^<>]+ <[^@<> ]+@[^@<> ]+\.[^@<> ]+>$' ||
    fail "$package: Maintainer $(field Maintainer)"
  for dep in $plain; do
    field Depends | tr ',' '\n' | grep -q "^ *$dep\( \|$\)" ||
      fail "$package: Depends lacks $dep: $(field Depends)"
  done
  [ -z "$exact" ] || field Depends | grep -qF "$exact" ||
    fail "$package: Depends lacks $exact: $(field Depends)"
  synopsis=$(field Description | head -n 1)
  [ -n "$synopsis" ] && [ ${#synopsis} -le 80 ] || fail "$package: Description '$synopsis'"
  [ "$(field Description | wc -l)" -gt 2 ] || fail "$package: no long description"
done

# Contents: exactly these files and links (links with their targets); the
# folders that hold them are not listed.
docs() {
  for f in copyright changelog.Debian.gz changelog.gz "$@"; do echo "/usr/share/doc/$package/$f"; done
}
expected() {
  case $package in
    "$runtime")
      for lib in kestrum quarnel; do
        echo "$libdir/lib$lib.so.0 -> lib$lib.so.$version"
        echo "$libdir/lib$lib.so.$version"
      done
      docs
      ;;
    libkestrum-dev)
      cat <<EOF
/usr/include/kestrum.h
/usr/include/quarnel.h
$libdir/cmake/Kestrum/KestrumConfig.cmake
$libdir/cmake/Kestrum/KestrumConfigVersion.cmake
$libdir/cmake/Kestrum/KestrumTargets-CONFIG.cmake
$libdir/cmake/Kestrum/KestrumTargets.cmake
$libdir/libkestrum.so -> libkestrum.so.0
$libdir/libquarnel.so -> libquarnel.so.0
$libdir/pkgconfig/kestrum.pc
EOF
      docs README.md docs/api.md docs/architecture.md docs/bad-inputs.md docs/batch.md \
        docs/diagnostics.md docs/json.md docs/output-format.md docs/stream-format.md \
        docs/windows.md \
        examples/convert_directory.c examples/live_socket_host.c \
        examples/multi_camera_host.c
      ;;
    kestrum)
      echo /usr/bin/kestrum
      docs README.md
      ;;
  esac
  for extra in $extras; do
    [ "${extra%%:*}" != "$package" ] || echo "${extra#*:}"
  done
}
for deb in $debs; do
  package=$(dpkg-deb -f "$deb" Package)
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { p = $6; for (i = 7; i <= NF; ++i) p = p " " $i; print p }' |
    sed 's|^\./|/|; s|KestrumTargets-[a-z]*\.cmake$|KestrumTargets-CONFIG.cmake|' |
    sort >"$work/$package.contents"
  expected | sort >"$work/$package.expected"
  if ! cmp -s "$work/$package.expected" "$work/$package.contents"; then
    diff "$work/$package.expected" "$work/$package.contents" || true
    fail "the contents of $package differ from the expected list"
  fi
  dpkg-deb -x "$deb" "$work/root"
done

# Each package's changelog starts with its version.
for package in $runtime libkestrum-dev kestrum; do
  top=$(gzip -dc "$work/root/usr/share/doc/$package/changelog.Debian.gz" | head -n 1)
  case $top in "kestrum ($full_version) "*) ;; *) fail "$package's changelog starts '$top'" ;; esac
done

# The binaries: no RUNPATH; the library's SONAME and its exports, the C API
# alone.
for binary in "$work/root/usr/bin/kestrum" "$work/root$libdir/libkestrum.so.$version" \
  "$work/root$libdir/libquarnel.so.$version"; do
  ! readelf -d "$binary" | grep -Eq '\((RUNPATH|RPATH)\)' || fail "$binary has a RUNPATH"
done
lib=$work/root$libdir/libkestrum.so.$version
readelf -d "$lib" | grep -q 'Library soname: \[libkestrum.so.0\]' || fail "SONAME of $lib"
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort | tr '\n' ' ')
[ "$exports" = "CreateRecordInstance KestrumDescribeStatus KestrumGetRecordStats KestrumGetVersion KestrumSetDebugOutput KestrumSetRecordDebugOutput KestrumSetSyncInterval KestrumSetTransferSync KestrumSwitchOutput KestrumTransferToAsfEx ReleaseRecordInstance SendOneFrame StartRecord StopRecord TransferToAsf " ] ||
  fail "exports of the packaged library: $exports"

# lintian: errors fail; warnings are shown.
if command -v lintian >/dev/null; then
  # shellcheck disable=SC2086
  lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs $debs \
    >"$work/lintian.txt" 2>&1 || { cat "$work/lintian.txt"; fail "lintian reports errors"; }
  grep -v 'running with root privileges' "$work/lintian.txt" || true
else
  echo "lintian is not installed: not run"
fi

# shellcheck disable=SC2086
if [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2>/dev/null; then
  "$(dirname "$0")/deb_root.sh" "$work/apt" "$host_source" "$cc" "$cmake" "$generator" \
    "${libdir#/usr/}" $debs
else
  echo "not root, or no mount namespace: the packages are not installed into a throwaway root"
fi
echo "$(echo $debs | xargs -n 1 basename | tr '\n' ' '): control fields, contents, binaries: ok"
