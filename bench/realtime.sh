#!/usr/bin/env bash
# The pace of `kestrum record -re`: records a generated stream of N groups
# (the default mix, 2 Mbit/s) at its own pace and reports the wall time
# against the stream's own (N x 40 ms), their ratio and the CPU time. At pace
# the ratio is 1 within a group (the first group goes at once, the last at
# (N - 1) x 40 ms), whatever the machine's load, since a late group never
# makes the next one later than its time.
#
# Usage: bench/realtime.sh [--groups 250] [--no-build]
# Uses build/ (configured as the README says); data go to
# build/bench/realtime and are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

groups=250
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --groups) groups=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "usage: bench/realtime.sh [--groups 250] [--no-build]" >&2; exit 2 ;;
  esac
done
[ "$build" = 0 ] || cmake --build build -j2 --target kestrum_cli >/dev/null
kestrum=build/tools/kestrum
data=build/bench/realtime
rm -rf "$data" && mkdir -p "$data"
trap 'rm -rf "$data"' EXIT
"$kestrum" generate "$data/in.bin" --frames "$groups" >/dev/null

start=$(date +%s.%N)
/usr/bin/time -f '%U %S' -o "$data/cpu" "$kestrum" record -re "$data/in.bin" "$data/out.asf" >/dev/null
end=$(date +%s.%N)
read -r user system <"$data/cpu"
awk -v n="$groups" -v s="$start" -v e="$end" -v u="$user" -v y="$system" 'BEGIN {
  wall = e - s; media = n * 0.040
  printf "groups: %d\nstream time: %.3f s\nwall time: %.3f s\nratio: %.4f\nCPU: %.2f s user, %.2f s system\n",
         n, media, wall, wall / media, u, y
}'
