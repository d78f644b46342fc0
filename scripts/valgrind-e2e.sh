#!/usr/bin/env bash
# Runs the end-to-end tests under valgrind memcheck: any memory error, and any
# definite or indirect leak, fails the run. Uses (and builds, if needed) an
# ordinary build directory.
#
# What runs, to keep the time reasonable (valgrind is ~30x slower; about a
# minute and a half in all):
#  - the live road end to end (tests/e2e/live_road_test.cc): every test but
#    the piece cuttings, of which a sample runs: 1-, 7- and 64-byte pieces,
#    4096, whole groups and two random cuttings (the other cuttings take the
#    same paths);
#  - the write-fault and crash tests (tests/robust), but the power-cut test,
#    whose hundreds of repairs and reads take the paths the others take;
#  - the packet-source library's tests, whole;
#  - the kestrum program's road tests (convert and record through the library
#    and the packet source), with the program itself under valgrind too. Its
#    other tests (argument parsing, inspect, help) take six minutes there.
# Usage: scripts/valgrind-e2e.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh valgrind
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2

logs=$build/valgrind
rm -rf "$logs"
mkdir -p "$logs"
# Children are traced (the kestrum program), but not the tools the tests read
# files back with, nor script(1), which under valgrind never sees its child end
# and waits for ever (the program it runs on a terminal is then not traced). A
# child's findings make it exit 99 and land in its log. Each run has a time
# limit, so that a hang fails the check instead of holding CI.
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
  --trace-children=yes --trace-children-skip='*/ffprobe,*/ffmpeg,*/mediainfo,*/sh,*/bash,*/dash,*/script'
  --child-silent-after-fork=yes --quiet --log-file="$logs/%p.log")

run() {
  echo "== valgrind: $*"
  if ! timeout --kill-after=10 900 "${memcheck[@]}" "$@"; then
    cat "$logs"/*.log
    echo "valgrind: $1 failed"
    exit 1
  fi
}

cuttings='*/every1:*/every7:*/every64:*/every4096:*/whole_groups:*/random100:*/random70000'
run "$build/tests/kestrum_e2e_tests" --gtest_brief=1 --gtest_filter="LiveRoadTest.*:$cuttings"
run "$build/tests/kestrum_robust_tests" --gtest_brief=1 --gtest_filter='-*PowerCutTest.*'
run "$build/tests/kestrum_quarnel_tests" --gtest_brief=1
if [ -x "$build/tests/kestrum_cli_tests" ]; then
  run "$build/tests/kestrum_cli_tests" --gtest_brief=1 --gtest_filter='RoadsTest.*'
fi
if find "$logs" -name '*.log' -size +0 | grep -q .; then
  cat "$logs"/*.log
  echo "valgrind: findings in a child process"
  exit 1
fi
echo "valgrind: no errors, no leaks"
