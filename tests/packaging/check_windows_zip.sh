#!/bin/sh
# Builds the Windows zip with CPack and checks it as a host developer uses it:
# exactly the expected files; a C host compiled against the unpacked include/
# and lib/libkestrum.dll.a alone (so the import library's decorated __stdcall
# symbols must resolve to the DLL's undecorated exports); the host run beside
# the unpacked DLLs (under Wine on a cross build), and with the built-in
# writer its two files read back with ffprobe.
#
# Usage: check_windows_zip.sh BUILD_DIR WORK_DIR CPACK VERSION C_COMPILER
#                             write|refuse HOST_SOURCE [EMULATOR...]
set -eu
build=$1 work=$2 cpack=$3 version=$4 cc=$5 mode=$6 host_source=$7
shift 7

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
$name/include/kestrum.h
$name/include/quarnel.h
$name/lib/libkestrum.dll.a
$name/lib/libquarnel.dll.a
$name/share/doc/kestrum/README.md
$name/share/doc/kestrum/docs/api.md
$name/share/doc/kestrum/docs/bad-inputs.md
$name/share/doc/kestrum/docs/diagnostics.md
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
"$cc" -std=c11 -Wall -Wextra -static-libgcc -o "$root/bin/zip_host.exe" "$host_source" \
  -I"$root/include" -L"$root/lib" -lkestrum || fail "linking a host against libkestrum.dll.a"

mkdir -p "$work/run"
(cd "$work/run" && "$@" "$root/bin/zip_host.exe" "$mode" .) || fail "the host ($mode)"
if [ "$mode" = write ] && command -v ffprobe >/dev/null; then
  for f in live file; do
    count=$(ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 \
      "$work/run/$f.asf")
    [ "$count" = 30 ] || fail "$f.asf holds $count samples, not 30"
  done
fi
echo "$name.zip: contents, a host linked against its import library, run ($mode): ok"
