#!/usr/bin/env bash
# Builds the whole project with AddressSanitizer and UndefinedBehaviorSanitizer
# (KESTRUM_SANITIZE, with the default compiler) in its own build directory and
# runs the whole test suite there. Any report fails the run: UBSan does not
# recover, and LeakSanitizer reports leaks at exit.
# Usage: scripts/check-sanitizers.sh [build directory, default build-sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-sanitize}

scripts/install-deps.sh
# -O1: what the sanitizers are meant for, and a third quicker to build.
source scripts/compiler-cache.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
  -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DKESTRUM_SANITIZE=ON "${compiler_cache[@]}" >/dev/null
cmake --build "$build" -j2
# verify_asan_link_order=0: the packaging tests build plain host programs
# against the installed, sanitized library; the runtime then loads with it.
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:verify_asan_link_order=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure --timeout 600 -j2
