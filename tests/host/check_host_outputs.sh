#!/bin/sh
# Usage: check_host_outputs.sh DIR COMMAND...
# Runs COMMAND (the host program with its arguments) in a fresh DIR, then
# checks each ASF file it wrote against what the host worked out from the
# stream: ffprobe must find one XQV4 video stream of 352 x 288 whose codec
# data is the stream's 40-byte header, one key-frame packet per expected
# sample with the expected time and size, and ffmpeg must read back exactly
# the expected sample bytes.
set -eu
dir=$1
shift
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"
"$@"

status=0
fail() {
  echo "FAIL: $*"
  status=1
}

header_hash=$(head -c 40 stream.bin | md5sum | cut -d' ' -f1)
for road in live file; do
  asf=$road.asf
  [ "$(wc -l < "$road.packets")" -ge 10 ] || fail "$road: too few expected samples"

  ffprobe -v error -select_streams v -show_data_hash MD5 \
    -show_entries stream=codec_type,codec_tag_string,width,height,extradata_size,extradata_hash \
    -of default=nw=1 "$asf" | sort > "$road.stream"
  printf '%s\n' codec_tag_string=XQV4 codec_type=video "extradata_hash=MD5:$header_hash" \
    extradata_size=40 height=288 width=352 | sort > "$road.stream.expected"
  cmp -s "$road.stream" "$road.stream.expected" ||
    fail "$road: stream is $(tr '\n' ' ' < "$road.stream")"
  [ "$(ffprobe -v error -show_entries stream=index -of csv=p=0 "$asf" | wc -l)" -eq 1 ] ||
    fail "$road: more than one stream"

  ffprobe -v error -select_streams v -show_entries packet=pts,size,flags -of csv=p=0 "$asf" \
    > "$road.read.packets"
  cut -d, -f1,2 "$road.read.packets" | cmp -s - "$road.packets" ||
    fail "$road: packet times or sizes differ from $road.packets (see $road.read.packets)"
  if cut -d, -f3 "$road.read.packets" | grep -qv '^K'; then
    fail "$road: a packet is not a key frame"
  fi

  # Samples of one packet share their time: the data muxer's complaint about
  # that is not wanted here.
  ffmpeg -v fatal -i "$asf" -map 0:v -c copy -f data - > "$road.read.payload"
  cmp -s "$road.read.payload" "$road.payload" ||
    fail "$road: sample bytes differ from $road.payload"
  [ $status -ne 0 ] || echo "$road.asf: $(wc -l < "$road.packets") samples as expected"
done
exit $status
