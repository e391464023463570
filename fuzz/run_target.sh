#!/bin/sh
# Builds one libFuzzer target with clang and fuzzes it on one core; the
# run*.sh scripts name the target, its corpus and its options.
#   fuzz/run_target.sh TARGET CORPUS MINUTES BUILD_DIR [libFuzzer options...]
# Builds TARGET in BUILD_DIR, works on a copy of fuzz/CORPUS in
# BUILD_DIR/CORPUS (its README.md left out) and leaves any failing input in
# BUILD_DIR/artifacts (for corpus) or BUILD_DIR/artifacts_bvh (corpus_bvh) and
# so on. New interesting inputs can be merged into the committed corpus with:
#   BUILD_DIR/fuzz/TARGET -merge=1 fuzz/CORPUS BUILD_DIR/CORPUS
set -eu
target=$1 corpus=$2 minutes=$3 build=$4
shift 4
src=$(cd "$(dirname "$0")/.." && pwd)
artifacts=$build/artifacts${corpus#corpus}

cmake -S "$src" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DQV_FUZZ=ON \
      -DQV_BUILD_BENCHMARKS=OFF -DQV_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" --target "$target" -j2

mkdir -p "$build/$corpus" "$artifacts"
cp -n "$src/fuzz/$corpus"/* "$build/$corpus/" 2>/dev/null || true
rm -f "$build/$corpus/README.md"
exec "$build/fuzz/$target" "$build/$corpus" -max_total_time=$((minutes * 60)) -rss_limit_mb=2048 \
     -artifact_prefix="$artifacts/" -print_final_stats=1 "$@"
