#!/bin/sh
# Builds the Windows zip with CPack and checks it as host developers use it:
#   - exactly the expected files;
#   - mingw-w64: the host project (host/) built with CMake against the
#     unpacked zip, find_package(Kestrum) picking libkestrum.dll.a, so the
#     import library's decorated __stdcall symbols must resolve to the DLL's
#     undecorated exports; run beside the DLLs that $<TARGET_RUNTIME_DLLS>
#     copied (under Wine on a cross build), and with the built-in writer its
#     two files read back with ffprobe;
#   - the MSVC ABI (when clang-cl and lld-link are installed): the same
#     project built with clang-cl and lld-link, find_package(Kestrum)
#     picking Kestrum.lib; with the built-in writer it runs on a stream made
#     by the zip's kestrum.exe, and its files hold the same samples.
#
# Usage: check_windows_zip.sh BUILD_DIR WORK_DIR CPACK VERSION write|refuse
#                             HOST_SOURCE_DIR MINGW_TOOLCHAIN LLVM_DLLTOOL
#                             GENERATOR [EMULATOR...]
set -eu
build=$1 work=$2 cpack=$3 version=$4 mode=$5 host_source=$6 mingw_toolchain=$7 dlltool=$8
generator=$9
shift 9

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -G ZIP -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
name=kestrum-$version-win32
zip=$work/$name.zip
[ -f "$zip" ] || { ls "$work"; fail "no $zip"; }

# CMake reads zip files itself: no unzip needed.
cmake=$(dirname "$cpack")/cmake
(cd "$work" && "$cmake" -E tar tf "$zip") | grep -v '/$' | sort >"$work/contents.txt"
sort >"$work/expected.txt" <<EOF
$name/bin/Kestrum.dll
$name/bin/Quarnel.dll
$name/bin/kestrum.exe
$name/include/kestrum.h
$name/include/quarnel.h
$name/lib/Kestrum.lib
$name/lib/Quarnel.lib
$name/lib/cmake/Kestrum/KestrumConfig.cmake
$name/lib/cmake/Kestrum/KestrumConfigVersion.cmake
$name/lib/libkestrum.dll.a
$name/lib/libquarnel.dll.a
$name/share/doc/kestrum/CHANGELOG.md
$name/share/doc/kestrum/README.md
$name/share/doc/kestrum/docs/api.md
$name/share/doc/kestrum/docs/architecture.md
$name/share/doc/kestrum/docs/bad-inputs.md
$name/share/doc/kestrum/docs/batch.md
$name/share/doc/kestrum/docs/diagnostics.md
$name/share/doc/kestrum/docs/json.md
$name/share/doc/kestrum/docs/output-format.md
$name/share/doc/kestrum/docs/stream-format.md
$name/share/doc/kestrum/docs/windows.md
EOF
if ! cmp -s "$work/expected.txt" "$work/contents.txt"; then
  diff "$work/expected.txt" "$work/contents.txt" || true
  fail "the zip's contents differ from the expected list"
fi
(cd "$work" && "$cmake" -E tar xf "$zip")
root=$work/$name

# host_project NAME TOOLCHAIN [-D...]: the host project, built against the zip.
host_project() {
  label=$1 toolchain=$2
  shift 2
  "$cmake" -S "$host_source" -B "$work/$label" -G "$generator" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" "$@" >"$work/$label.log" 2>&1 &&
    "$cmake" --build "$work/$label" >>"$work/$label.log" 2>&1 ||
    { cat "$work/$label.log"; fail "building the $label host against the zip"; }
}
# samples FILE: the MD5 of each sample's payload.
samples() {
  ffprobe -v error -show_data_hash MD5 -show_entries packet=data_hash -of csv=p=0 "$1"
}

# mingw-w64. Its toolchain finds packages under its own root only: the zip's
# is named.
host_project mingw "$mingw_toolchain" -DKestrum_DIR="$root/lib/cmake/Kestrum"
mkdir -p "$work/run-mingw"
(cd "$work/run-mingw" && "$@" "$work/mingw/zip_host.exe" "$mode" .) ||
  fail "the mingw-w64 host ($mode)"
if [ "$mode" = write ] && command -v ffprobe >/dev/null; then
  for f in live file; do
    count=$(samples "$work/run-mingw/$f.asf" | wc -l)
    [ "$count" = 30 ] || fail "$f.asf holds $count samples, not 30"
  done
fi

# The MSVC ABI.
clang_cl=
for c in clang-cl clang-cl-19 clang-cl-18 clang-cl-17 clang-cl-16 clang-cl-15 clang-cl-14; do
  command -v "$c" >/dev/null && { clang_cl=$c; break; }
done
if [ -z "$clang_cl" ] || ! command -v lld-link >/dev/null; then
  echo "$name.zip: contents, the mingw-w64 host ($mode): ok; no clang-cl and lld-link: Kestrum.lib not checked"
  exit 0
fi
host_project msvc "$host_source/toolchain-clang-cl-i686.cmake" -DCMAKE_PREFIX_PATH="$root" \
  -DKESTRUM_LLVM_DLLTOOL="$dlltool"
grep -q "$root/lib/Kestrum\.lib" "$work/msvc/build.ninja" ||
  fail "the MSVC host does not link the zip's Kestrum.lib"
mkdir -p "$work/run-msvc"
(cd "$work/run-msvc" && "$@" "$root/bin/kestrum.exe" generate stream.xqv --frames 30 \
  --video-only >/dev/null) || fail "the zip's kestrum.exe does not run"
if [ "$mode" = write ]; then
  # Under Wine a crash may end in status 0: the host's own last line counts.
  code=0
  (cd "$work/run-msvc" && "$@" "$work/msvc/msvc_host.exe") >"$work/msvc-run.txt" || code=$?
  cat "$work/msvc-run.txt"
  [ $code = 0 ] && grep -q 'msvc_host: ok' "$work/msvc-run.txt" || fail "the MSVC host (status $code)"
  if command -v ffprobe >/dev/null; then
    samples "$work/run-msvc/file.asf" >"$work/file-samples.txt"
    samples "$work/run-msvc/live.asf" >"$work/live-samples.txt"
    [ -s "$work/file-samples.txt" ] && cmp -s "$work/file-samples.txt" "$work/live-samples.txt" ||
      fail "the MSVC host's files do not hold the same samples"
  fi
fi
echo "$name.zip: contents, the mingw-w64 and MSVC-ABI hosts ($mode), kestrum.exe: ok"
