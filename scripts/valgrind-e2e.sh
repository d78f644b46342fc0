#!/usr/bin/env bash
# Runs the end-to-end tests under valgrind memcheck: any memory error, and any
# definite or indirect leak, fails the run. Uses (and builds, if needed) an
# ordinary build directory.
#
# What runs, to keep the time reasonable (valgrind is ~30x slower):
#  - the live road end to end (tests/e2e): every test but the piece cuttings,
#    of which a sample runs: 1-, 7- and 64-byte pieces, 4096, whole groups and
#    two random cuttings (the other cuttings take the same paths);
#  - the write-fault and crash tests (tests/robust), whole;
#  - the kestrum program's end-to-end tests (tests/tools), when built.
# Usage: scripts/valgrind-e2e.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-deps.sh valgrind
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2

memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
  --child-silent-after-fork=yes --quiet)

run() {
  echo "== valgrind: $*"
  "${memcheck[@]}" "$@"
}

cuttings='*/every1:*/every7:*/every64:*/every4096:*/whole_groups:*/random100:*/random70000'
run "$build/tests/kestrum_e2e_tests" --gtest_brief=1 --gtest_filter="LiveRoadTest.*:$cuttings"
run "$build/tests/kestrum_robust_tests" --gtest_brief=1
if [ -x "$build/tests/kestrum_tools_tests" ]; then
  run "$build/tests/kestrum_tools_tests" --gtest_brief=1
fi
echo "valgrind: no errors, no leaks"
