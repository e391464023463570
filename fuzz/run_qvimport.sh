#!/bin/sh
# Fuzzes qvimport's BVH path for MINUTES minutes (default 10) on one core.
#   fuzz/run_qvimport.sh [MINUTES] [BUILD_DIR]
# Builds the libFuzzer target with clang in BUILD_DIR (default build-fuzz next
# to the sources), works on a copy of fuzz/corpus_bvh in BUILD_DIR/corpus_bvh,
# and leaves any crashing input in BUILD_DIR/artifacts_bvh. New
# interesting inputs can be merged into the committed corpus with:
#   ASAN_OPTIONS=detect_leaks=0 BUILD_DIR/fuzz/fuzz_qvimport -merge=1 fuzz/corpus_bvh BUILD_DIR/corpus_bvh
# Leak detection is off: Assimp 5.2 leaks the nodes it has built when a BVH
# file fails to parse (inside the library, not ours to fix), and that would
# stop every run within seconds.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
exec "$here/run_target.sh" fuzz_qvimport corpus_bvh "${1:-10}" "${2:-$here/../build-fuzz}" \
     -max_len=16384 -detect_leaks=0
