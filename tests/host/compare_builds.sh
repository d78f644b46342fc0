#!/bin/sh
# Usage: compare_builds.sh REFERENCE_BUILD BUILD...
# The runs of the host program and of the kestrum program that each build
# folder's tests left behind (tests/host_roads: kestrum_host_roads;
# tests/cli_write: kestrum_program_roads) must agree with the reference
# build's, file for file: the same input streams, the same ASF bytes with the
# file ID and creation date masked (`kestrum inspect --masked` of the
# reference build's program), and the same diagnostic lines (line endings
# aside: Windows' stderr writes CR LF).
set -eu
reference=$1
shift

files="host_roads/stream.bin host_roads/live.asf host_roads/file.asf host_roads/diagnostics.txt
cli_write/stream.bin cli_write/file.asf cli_write/live.asf cli_write/stdin.asf
cli_write/file.log cli_write/live.log cli_write/stdin.log"

digest() {
  case $1 in
    *.asf) "$reference/tools/kestrum" inspect --masked "$1" | md5sum | cut -d' ' -f1 ;;
    *.txt | *.log) tr -d '\r' <"$1" | md5sum | cut -d' ' -f1 ;;
    *) md5sum <"$1" | cut -d' ' -f1 ;;
  esac
}

status=0
for build in "$@"; do
  echo "$build against $reference:"
  for f in $files; do
    a=$reference/tests/$f b=$build/tests/$f
    if [ ! -s "$a" ] || [ ! -s "$b" ]; then
      echo "  MISSING $f"
      status=1
    elif [ "$(digest "$a")" = "$(digest "$b")" ]; then
      case $f in
        *.txt | *.log) echo "  same  $f ($(wc -l <"$b") lines)" ;;
        *) echo "  same  $f ($(wc -c <"$b") bytes)" ;;
      esac
    else
      echo "  DIFF  $f"
      status=1
    fi
  done
done
exit $status
