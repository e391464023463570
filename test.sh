#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, window, fuzz
# corpus replay and the walker's gait checks). Extra arguments go to ctest.
#
# ./test.sh --sanitize [ctest arguments]: the same build with
# AddressSanitizer and UndefinedBehaviorSanitizer in ./build-asan, running
# everything but the window scripts (they drive the program from outside
# and would mostly measure the sanitizers' slowness). Leaks of the system
# libraries at exit are suppressed by name in tests/lsan.supp.
set -eu
cd "$(dirname "$0")"
# Every part is switched on explicitly: a build directory that ./run.sh (or a
# hand-made configuration) left with some of them off still builds and runs
# every test, and ctest fails rather than pass having found none.
# QV_CMAKE_ARGS adds options of its own (CI: -DQV_WERROR=ON).
all_on="-DQV_BUILD_TESTS=ON -DQV_BUILD_TOOLS=ON ${QV_CMAKE_ARGS:-}"
tools/deps.sh test
if [ "${1:-}" = "--sanitize" ]; then
  shift
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_SANITIZE=ON -DQV_BUILD_BENCHMARKS=OFF $all_on >/dev/null
  cmake --build build-asan -j"$(nproc)"
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1"
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
  ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$(nproc)" -E '^window_' "$@"
  exit
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_BENCHMARKS=ON $all_on >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)" "$@"
