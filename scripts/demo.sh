#!/usr/bin/env bash
# The main job on a bundled example: builds the program (with what
# `cmake --install build` installs along: its manual page) and the example
# hosts (build/examples/), generates an example
# stream (10 s of 704x576 at 25 frames per second), converts it on both roads
# (the file road with `kestrum convert`, the live road with `kestrum record` in
# 4 KiB pieces) and shows what the ASF files hold.
# Usage: scripts/demo.sh [output directory, default out/demo]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-out/demo}
build=build

scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target kestrum_cli live_socket_host convert_directory \
  multi_camera_host
kestrum="$build/tools/kestrum"

mkdir -p "$out"
echo "== Generating an example stream: $out/example.xqv"
"$kestrum" generate "$out/example.xqv" --frames 250 --size 704x576 --random-state 7
"$kestrum" inspect "$out/example.xqv"

echo
echo "== File road: kestrum convert -> $out/example-file.asf"
"$kestrum" convert "$out/example.xqv" "$out/example-file.asf"
echo "== Live road: kestrum record (4 KiB pieces) -> $out/example-live.asf"
"$kestrum" record "$out/example.xqv" "$out/example-live.asf" --piece-size 4096

echo
echo "== The two files differ in duration and samples by each road's timing rule:"
echo "   the file road gives every block of group k a sample at k x 40 ms (10.0 s for"
echo "   250 groups); the live road gives each video block a sample, 40 ms after the"
echo "   one before (a group of 3 video blocks lasts 120 ms)."
for f in "$out/example-file.asf" "$out/example-live.asf"; do
  echo
  echo "== $f"
  "$kestrum" inspect "$f"
  if command -v ffprobe >/dev/null; then
    ffprobe -v error -count_packets -show_entries \
      stream=codec_tag_string,width,height,nb_read_packets:format=duration:format_tags=title,comment \
      -of default=noprint_wrappers=1 "$f"
  fi
done
