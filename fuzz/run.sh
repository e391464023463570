#!/bin/sh
# Fuzzes the actor file loader for MINUTES minutes (default 10) on one core.
#   fuzz/run.sh [MINUTES] [BUILD_DIR]
# Builds the libFuzzer target with clang in BUILD_DIR (default build-fuzz next
# to the sources), works on a copy of fuzz/corpus in BUILD_DIR/corpus, and
# leaves any crashing input in BUILD_DIR/artifacts. New interesting inputs
# can be merged into the committed corpus with:
#   BUILD_DIR/fuzz/fuzz_actor_loader -merge=1 fuzz/corpus BUILD_DIR/corpus
set -eu
minutes=${1:-10}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$src/build-fuzz}

cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DQV_FUZZ=ON \
      -DQV_BUILD_BENCHMARKS=OFF -DQV_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target fuzz_actor_loader -j2

mkdir -p "$build/corpus" "$build/artifacts"
cp -n "$src"/fuzz/corpus/* "$build/corpus/" 2>/dev/null || true
exec "$build/fuzz/fuzz_actor_loader" "$build/corpus" \
     -dict="$src/fuzz/actor.dict" -max_total_time=$((minutes * 60)) \
     -max_len=8192 -rss_limit_mb=2048 -artifact_prefix="$build/artifacts/" -print_final_stats=1
