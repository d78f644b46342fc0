#!/bin/sh
# Usage: check_cli.sh write|refuse DIR COMMAND...
# Runs the kestrum program (COMMAND, e.g. the emulator and kestrum.exe) in a
# fresh DIR as a user would, on a generated stream with junk between groups.
#   write:  the stream written to a file and to standard output is the same;
#           convert and record (from a file and from standard input) write
#           ASF files with an XQV4 stream that ffprobe reads; both live files
#           hold the same samples; inspect reads the converted file; an
#           OUTPUT that is the INPUT is refused (exit 2).
#   refuse: the writer cannot be made: convert and record end with exit 1
#           (the work failed), without a crash.
# The library's diagnostic lines of each conversion (--verbose) are left in
# ROAD.log beside its file, for compare_builds.sh.
set -eu
mode=$1
dir=$2
shift 2
rm -rf "$dir"
mkdir -p "$dir"
cd "$dir"

status=0
fail() {
  echo "FAIL: $*"
  status=1
}
run() {
  expected=$1
  shift
  code=0
  "$@" || code=$?
  [ "$code" -eq "$expected" ] || fail "exit $code, not $expected: $*"
}

run 0 "$@" generate stream.bin --frames 120 --junk
run 0 "$@" generate - --frames 120 --junk > stdout.bin
cmp -s stream.bin stdout.bin || fail "the stream written to standard output differs"

if [ "$mode" = refuse ]; then
  run 1 "$@" convert stream.bin file.asf --verbose 2>file.log
  run 1 "$@" record stream.bin live.asf --verbose 2>live.log
  exit $status
fi

run 0 "$@" convert stream.bin file.asf --verbose 2>file.log
run 0 "$@" record stream.bin live.asf --verbose 2>live.log
run 0 "$@" record - stdin.asf --verbose < stream.bin 2>stdin.log
run 0 "$@" inspect file.asf > inspect.txt
run 2 "$@" convert stream.bin stream.bin

for asf in file.asf live.asf stdin.asf; do
  tag=$(ffprobe -v error -select_streams v -show_entries stream=codec_tag_string -of csv=p=0 "$asf")
  [ "$tag" = XQV4 ] || fail "$asf: stream tag '$tag'"
  packets=$(ffprobe -v error -select_streams v -show_entries packet=pts -of csv=p=0 "$asf" | wc -l)
  [ "$packets" -ge 100 ] || fail "$asf: $packets packets"
  ffmpeg -v fatal -i "$asf" -map 0:v -c copy -f data - > "$asf.payload"
done
cmp -s live.asf.payload stdin.asf.payload || fail "recording from standard input differs"
[ $status -ne 0 ] || echo "kestrum program: ok"
exit $status
