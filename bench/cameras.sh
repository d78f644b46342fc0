#!/usr/bin/env bash
# Many cameras in one process: runs examples/multi_camera_host with N cameras
# at real pace (25 groups a second, 4 KiB pieces, the default sync policy),
# each recording the same generated stream (the default mix of
# `kestrum generate`, 2 Mbit/s) for S seconds, its files cut every 10 s, and
# reports for each N:
#   - CPU per camera-second: the host's user + system time (the shell's
#     `times` for its one child, i.e. getrusage of the child) over N x S;
#   - the most threads and the peak RSS (VmHWM) /proc showed while it ran;
#   - the worst lag of a camera behind real time: how late, at worst, a
#     piece's SendOneFrame returned after the piece was due (the host's
#     "worst lag" line), and of it the longest one call into the library
#     took (its "worst call" line), the rest being threads woken late;
#   - the files written, and of them those ended whole (`kestrum repair
#     --check` says "already whole");
#   - whether it exited 0 (every camera's stats without a failure);
# and after the table the machine's load average (1 minute) before and
# after: on a machine shared with other work the lag tells of it too.
#
# Usage: bench/cameras.sh [--cameras 4,64,256] [--seconds 30] [--no-build]
# Uses build/ (configured as the README says); data go to
# build/bench/cameras and are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

cameras=4,64,256
seconds=30
build=1
while [ $# -gt 0 ]; do
  case "$1" in
    --cameras) cameras=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --no-build) build=0; shift ;;
    *) echo "usage: bench/cameras.sh [--cameras 4,64,256] [--seconds 30] [--no-build]" >&2
       exit 2 ;;
  esac
done
[ "$build" = 0 ] || cmake --build build -j2 --target multi_camera_host kestrum_cli >/dev/null
host=build/examples/multi_camera_host
kestrum=build/tools/kestrum
data=build/bench/cameras
rm -rf "$data"
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT

# A second more than asked, so the stream never ends before --seconds.
"$kestrum" generate "$data/in.xqv" --frames $(((seconds + 1) * 25)) >/dev/null

# Runs the host with $1 cameras; prints
# "threads rss_kib status cpu_seconds lag_ms call_ms files ended".
# A subshell of its own runs the host and reads the children's user and
# system time (the second line of `times`) once it has waited for it: the
# host is its only child, so the polling below is not counted.
run_one() {
  local n=$1 out="$data/out-$1"
  mkdir -p "$out"
  rm -f "$data/pid-$n"
  (
    "$host" -q --seconds "$seconds" --cut 10 "$n" "$out" "$data/in.xqv" >"$data/stats-$n" &
    echo $! >"$data/pid-$n"
    status=0
    wait $! || status=$?
    echo "$status" >"$data/status-$n"
    times >"$data/times-$n"
  ) &
  local runner=$! pid="" threads=0 rss=0 key value
  while [ -z "$pid" ]; do
    sleep 0.05
    [ ! -s "$data/pid-$n" ] || pid=$(cat "$data/pid-$n")
  done
  while [ -r "/proc/$pid/status" ]; do
    while read -r key value _; do
      case "$key" in
        Threads:) [ "$value" -le "$threads" ] || threads=$value ;;
        VmHWM:) [ "$value" -le "$rss" ] || rss=$value ;;
      esac
    done <"/proc/$pid/status" 2>>"$data/poll-errors" || true  # it may end meanwhile
    sleep 0.2
  done
  wait "$runner"
  local cpu
  cpu=$(sed -n 2p "$data/times-$n" | awk '{
    split($1, u, /[ms]/); split($2, s, /[ms]/); print u[1] * 60 + u[2] + s[1] * 60 + s[2] }')
  local lag call files ended
  lag=$(sed -n 's/^worst lag: \([0-9.]*\) ms.*/\1/p' "$data/stats-$n")
  call=$(sed -n 's/^worst call: \([0-9.]*\) ms.*/\1/p' "$data/stats-$n")
  files=$(find "$out" -name '*.asf' | wc -l)
  ended=$(find "$out" -name '*.asf' -exec "$kestrum" repair --check {} + 2>&1 |
    grep -c ': already whole, ' || true)
  rm -rf "$out"  # before the line is read: the next run may use the same folder
  echo "$threads $rss $(cat "$data/status-$n") $cpu ${lag:--1} ${call:--1} $files $ended"
}

load_before=$(cut -d' ' -f1 /proc/loadavg)
printf '| cameras | seconds | threads | peak RSS (MiB) | CPU (s) | CPU per camera-second (ms) | worst lag (ms) | worst call (ms) | files | ended | exit |\n'
printf '|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n'
for n in ${cameras//,/ }; do
  read -r threads rss status cpu lag call files ended < <(run_one "$n")
  awk -v n="$n" -v s="$seconds" -v t="$threads" -v r="$rss" -v c="$cpu" -v x="$status" \
    -v l="$lag" -v w="$call" -v f="$files" -v e="$ended" \
    'BEGIN { printf "| %d | %d | %d | %.1f | %.3f | %.3f | %.1f | %.1f | %d | %d | %d |\n",
             n, s, t, r / 1024, c, c * 1000 / (n * s), l, w, f, e, x }'
done
printf '\nload average (1 min): %s before, %s after\n' "$load_before" "$(cut -d' ' -f1 /proc/loadavg)"
