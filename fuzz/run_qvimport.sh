#!/bin/sh
# Fuzzes qvimport's BVH path for MINUTES minutes (default 10) on one core.
#   fuzz/run_qvimport.sh [MINUTES] [BUILD_DIR]
# Builds the libFuzzer target with clang in BUILD_DIR (default build-fuzz next
# to the sources), works on a copy of fuzz/corpus_bvh in BUILD_DIR/corpus_bvh,
# and leaves any crashing input in BUILD_DIR/artifacts_bvh. New interesting
# inputs can be merged into the committed corpus with:
#   ASAN_OPTIONS=detect_leaks=0 BUILD_DIR/fuzz/fuzz_qvimport -merge=1 fuzz/corpus_bvh BUILD_DIR/corpus_bvh
# Leak detection is off: Assimp 5.2 leaks the nodes it has built when a BVH
# file fails to parse (inside the library, not ours to fix), and that would
# stop every run within seconds.
set -eu
minutes=${1:-10}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$src/build-fuzz}

cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DQV_FUZZ=ON \
      -DQV_BUILD_BENCHMARKS=OFF -DQV_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target fuzz_qvimport -j2

mkdir -p "$build/corpus_bvh" "$build/artifacts_bvh"
cp -n "$src"/fuzz/corpus_bvh/* "$build/corpus_bvh/" 2>/dev/null || true
rm -f "$build/corpus_bvh/README.md"
export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
exec "$build/fuzz/fuzz_qvimport" "$build/corpus_bvh" \
     -max_total_time=$((minutes * 60)) -max_len=16384 -rss_limit_mb=2048 -detect_leaks=0 \
     -artifact_prefix="$build/artifacts_bvh/" -print_final_stats=1
