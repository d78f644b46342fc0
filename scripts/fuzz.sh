#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz/
# and runs each for the given number of seconds, two at a time, starting from
# the generated seeds and the kept findings. The corpus each run grows stays in
# build-fuzz/corpus/<target>/ and is reused by the next run.
#
#   scripts/fuzz.sh          45 s per target (CI runs scripts/fuzz.sh 30)
#   scripts/fuzz.sh 3600     the long run: an hour per target
#
# A finding stops its target and leaves the input in build-fuzz/artifacts/;
# the script then fails. Fix the fault, keep the input in
# tests/fuzz/regressions/<target>/ (CTest replays it in every build).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
build=build-fuzz

scripts/install-deps.sh clang libclang-rt-14-dev
source scripts/compiler-cache.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKESTRUM_FUZZ=ON "${compiler_cache[@]}" >/dev/null
targets=(file_header group live_road transfer muxer packet_source asf_reader repair)
# Just the fuzz programs and their seed generator; CI's other steps build and
# test everything else.
cmake --build "$build" -j2 --target kestrum_fuzz_seeds "${targets[@]/#/kestrum_fuzz_}"

rm -rf "$build/seeds" "$build/logs"
mkdir -p "$build/logs" "$build/artifacts"
"$build/tests/fuzz/kestrum_fuzz_seeds" "$build/seeds"

run_target() {
  local t=$1 corpus=$build/corpus/$1
  local inputs=("$corpus" "$build/seeds/$t")
  [ -d "tests/fuzz/regressions/$t" ] && inputs+=("tests/fuzz/regressions/$t")
  mkdir -p "$corpus"
  # libFuzzer reads and makes inputs of at most 1 MiB unless told: the live
  # road's seeds hold a few MB, to fill its 1,024,000-byte buffer.
  local options=()
  [ "$t" = live_road ] && options+=(-max_len=4194304)
  # One process, no forking: -max_total_time bounds the run; -timeout and
  # -rss_limit_mb turn a hang or runaway memory into a finding.
  if "$build/tests/fuzz/kestrum_fuzz_$t" -max_total_time="$seconds" -timeout=20 \
      -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
      "${options[@]}" "${inputs[@]}" >"$build/logs/$t.log" 2>&1; then
    echo "$t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$t.log" \
      | grep -o '[0-9]*$') executions, no finding"
  else
    echo "$t: FINDING (log $build/logs/$t.log)"
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$build/logs/$t.log" | head -5
    return 1
  fi
}
export -f run_target
export build seconds

# Two at a time: the machine has two cores.
printf '%s\n' "${targets[@]}" | xargs -P 2 -I{} bash -c 'run_target {}'
