#!/bin/sh
# Fuzzes the actor file loader for MINUTES minutes (default 10) on one core.
#   fuzz/run.sh [MINUTES] [BUILD_DIR]
# Builds the libFuzzer target with clang in BUILD_DIR (default build-fuzz next
# to the sources), works on a copy of fuzz/corpus in BUILD_DIR/corpus, and
# leaves any crashing input in BUILD_DIR/artifacts. New interesting
# inputs can be merged into the committed corpus with:
#   BUILD_DIR/fuzz/fuzz_actor_loader -merge=1 fuzz/corpus BUILD_DIR/corpus
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/run_target.sh" fuzz_actor_loader corpus "${1:-10}" "${2:-$here/../build-fuzz}" \
     -dict="$here/actor.dict" -max_len=8192
