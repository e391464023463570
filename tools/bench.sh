#!/usr/bin/env bash
# Runs every benchmark and the frame-rate comparison, in one go, from a
# Release build, and prints the machine they ran on.
#
# Usage, from anywhere:
#   tools/bench.sh            # the full run (about five minutes)
#   tools/bench.sh --quick    # one short repetition of everything (a smoke run)
# Environment: BUILD_DIR (default build-bench), REPS (benchmark repetitions,
# default 5), and ROUNDS, SAMPLES, WARMUP for tools/framerate.sh.
#
# Everything printed is also written to $BUILD_DIR/bench-results.txt.
# docs/performance.md explains the figures.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

quick=0
[ "${1:-}" = "--quick" ] && quick=1
build=${BUILD_DIR:-build-bench}
reps=${REPS:-5}
min_time=0.2
if [ $quick = 1 ]; then
  reps=1
  min_time=0.01
  export ROUNDS=${ROUNDS:-1} SAMPLES=${SAMPLES:-2} WARMUP=${WARMUP:-2}
fi

# Benchmarks need Google Benchmark and glm; the frame rate needs Xvfb and
# xdotool (the test packages).
tools/deps.sh test

benches=$(for f in bench/bench_*.cpp; do basename "$f" .cpp; done)
# Tools and benchmarks on explicitly: a build folder configured without them
# (as run.sh configures its own) keeps the cached choice otherwise.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TOOLS=ON -DQV_BUILD_BENCHMARKS=ON -DQV_BENCH_PEER=ON >/dev/null
# The comparison with ozz-animation is built where its sources are
# (../shared/peer, or QV_PEER_DIR): bench/peer/bench_ozz.
if grep -q '^bench_ozz:' "$build/Makefile" 2>/dev/null; then
  benches="$benches peer/bench_ozz"
fi
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target qvdemo bareloop $(for b in $benches; do basename "$b"; done) >/dev/null

mkdir -p "$build"
out="$build/bench-results.txt"
{
  echo "== Machine"
  echo "date:      $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "commit:    $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  echo "nproc:     $(nproc)"
  echo "cpu:       $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
  echo "compiler:  $("${compiler:-c++}" --version | head -n 1)"
  echo "flags:     $(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:[A-Z]*=//p' "$build/CMakeCache.txt") -Wall -Wextra -ffp-contract=off"
  if command -v glxinfo >/dev/null 2>&1; then
    echo "mesa:      (glxinfo below, under Xvfb)"
    tests/with_xvfb.sh sh -c 'LIBGL_ALWAYS_SOFTWARE=1 glxinfo -B | grep -E "OpenGL (renderer|version) string"' || true
  else
    echo "mesa:      $(dpkg-query -W -f='libgl1-mesa-dri ${Version}' libgl1-mesa-dri 2>/dev/null || echo unknown) (the renderer string follows the frame rates)"
  fi
  echo

  for b in $benches; do
    echo "== $b"
    "$build/bench/$b" --benchmark_repetitions="$reps" --benchmark_enable_random_interleaving=true \
      --benchmark_min_time="$min_time" --benchmark_display_aggregates_only=true --benchmark_color=false ||
      echo "($b failed with status $?)"
    echo
  done

  echo "== Frame rate: qvdemo against bareloop under Xvfb"
  tests/with_xvfb.sh tools/framerate.sh "$build/qvdemo" "$build/bareloop" "$root" ||
    echo "(the frame-rate comparison failed with status $?)"
  echo
  echo "== Frame rate: qvdemo showing the walker's body against its bones, under Xvfb"
  tests/with_xvfb.sh tools/framerate.sh --body "$build/qvdemo" "$root" ||
    echo "(the body's frame-rate comparison failed with status $?)"
} 2>&1 | tee "$out"
echo "(written to $out)"
