#!/bin/sh
# Fuzzes the process boundary the importer reads scenes through (the
# decoder of the reader's answer, then every stage of the import on what it
# lets through) for MINUTES minutes (default 10) on one core.
#   fuzz/run_capture_wire.sh [MINUTES] [BUILD_DIR]
# Builds the libFuzzer target with clang in BUILD_DIR (default build-fuzz next
# to the sources), works on a copy of fuzz/corpus_wire (its seeds written by
# fuzz/make_wire_corpus.py) and leaves any failing input in
# BUILD_DIR/artifacts_wire. New interesting inputs can be merged into
# the committed corpus with:
#   BUILD_DIR/fuzz/fuzz_capture_wire -merge=1 fuzz/corpus_wire BUILD_DIR/corpus_wire
set -eu
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/run_target.sh" fuzz_capture_wire corpus_wire "${1:-10}" "${2:-$here/../build-fuzz}" -max_len=65536
