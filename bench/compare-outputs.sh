#!/usr/bin/env bash
# Proves that a change left the output alone: builds a base revision and the
# working tree (Release), runs both `kestrum` programs over the same streams
# (clean, junk and malformed groups, a cut last group, older headers, other
# stream types, groups too large for a live sample, 400 KB of start codes
# between two runs of groups) on the file road and on the live road at
# several piece sizes, and compares, for every run:
#   - the ASF bytes, file ID and creation date masked (`kestrum inspect --masked`
#     of the working tree's program, for the base's files and its own alike)
#   - ffmpeg's per-packet hashes (framemd5: time, size, flags, MD5 of the data)
#   - every diagnostic line (--verbose, standard error) and the exit status.
#
# Usage: bench/compare-outputs.sh [--base REV (default main) | --base-src DIR] [--keep]
# --base-src builds the base from a source tree instead (e.g. the working tree
# with some commits reverted).
# Works under build/bench/compare; removed at the end unless --keep.
set -euo pipefail
cd "$(dirname "$0")/.."

base=main
base_src=
keep=0
while (($#)); do
  case $1 in
    --base) base=$2; shift 2 ;;
    --base-src) base_src=$(cd "$2" && pwd); shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "compare-outputs.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
scripts/install-deps.sh git

work=build/bench/compare
rm -rf "$work"
mkdir -p "$work/base-src" "$work/data"
((keep)) || trap 'rm -rf "$work"' EXIT

if [ -n "$base_src" ]; then
  base=$base_src
  echo "== Building the base from $base_src"
else
  base_commit=$(git rev-parse --verify "$base^{commit}")
  echo "== Building the base, $base ($base_commit)"
  git archive "$base_commit" | tar -x -C "$work/base-src"
  base_src=$work/base-src
fi
cmake -S "$base_src" -B "$work/base-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTRUM_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/base-build" -j2 --target kestrum_cli >/dev/null
echo "== Building the working tree"
cmake -S . -B build/bench/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTRUM_BUILD_TESTS=OFF \
  >/dev/null
cmake --build build/bench/release -j2 --target kestrum_cli >/dev/null
old=$work/base-build/tools/kestrum
new=build/bench/release/tools/kestrum

# name: generate options
streams=(
  "clean:--frames 3000"
  "dirty:--frames 1200 --junk --malformed --problem-interval 97"
  "cut:--frames 300 --truncate"
  "code-header:--frames 400 --resolution 0x1003 --stream-type 0x1003"
  "type-1002:--frames 400 --stream-type 0x1002 --key-interval 7"
  "large-groups:--frames 60 --bitrate 60000000 --key-interval 10"
  "small:--frames 120 --size 352x288 --video-only --random-state 5"
  "start-codes:--frames 100"
)
# Live-road piece sizes; 1-byte pieces only on small streams.
pieces=(7 41 1000 4096 65536 group)

failures=0
runs=0
# run_one TAG PROGRAM COMMAND INPUT OPTIONS...: writes TAG.asf, TAG.log (the
# diagnostics) and TAG.status.
run_one() {
  local tag=$1 program=$2 command=$3 input=$4
  shift 4
  local status=0
  "$program" "$command" "$input" "$work/data/$tag.asf" "$@" --verbose >/dev/null \
    2>"$work/data/$tag.log" || status=$?
  echo "$status" >"$work/data/$tag.status"
}
digest() {  # what must match between base and working tree
  local tag=$1
  cat "$work/data/$tag.status"
  # The library's lines alone: the program's own messages may change.
  grep -a '^\[kestrum\] ' "$work/data/$tag.log" | md5sum
  if [ -s "$work/data/$tag.asf" ]; then
    "$new" inspect --masked "$work/data/$tag.asf" | md5sum
    ffmpeg -nostdin -v error -i "$work/data/$tag.asf" -map 0 -c copy -f framemd5 - 2>&1 |
      grep -v '^#' | md5sum
  else
    echo "no output"
  fi
}
compare() {  # compare NAME COMMAND INPUT OPTIONS...
  local name=$1
  shift
  run_one "$name-base" "$old" "$@"
  run_one "$name-new" "$new" "$@"
  runs=$((runs + 1))
  if [ "$(digest "$name-base")" = "$(digest "$name-new")" ]; then
    printf '  same  %s (%s lines)\n' "$name" "$(wc -l <"$work/data/$name-new.log")"
  else
    printf '  DIFF  %s\n' "$name"
    failures=$((failures + 1))
  fi
  rm -f "$work/data/$name"-*.asf
}

for entry in "${streams[@]}"; do
  name=${entry%%:*}
  read -r -a options <<<"${entry#*:}"
  in=$work/data/$name.xqv
  "$old" generate "$in" "${options[@]}" >/dev/null
  if [ "$name" = start-codes ]; then
    # Tag-filled junk that keeps the held bytes from ever holding a group,
    # between the groups of two streams.
    "$old" generate "$in.tmp" "${options[@]}" --random-state 2 >/dev/null
    perl -e 'print "\x01\x00\x00\x00" x 100000' >>"$in"
    tail -c +41 "$in.tmp" >>"$in"
    rm -f "$in.tmp"
  fi
  echo "== $name: $(stat -c %s "$in") bytes"
  compare "$name-convert" convert "$in"
  sizes=("${pieces[@]}")
  (($(stat -c %s "$in") < 4000000)) && sizes=(1 "${sizes[@]}")
  for p in "${sizes[@]}"; do
    compare "$name-record-$p" record "$in" --piece-size "$p"
  done
done

echo
if ((failures)); then
  echo "== $failures of $runs runs differ from $base"
  exit 1
fi
echo "== All $runs runs match $base: ASF bytes (file ID and date masked), per-packet hashes, diagnostics, status"
