#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (unit, window, fuzz
# corpus replay and the walker's gait checks).
set -eu
cd "$(dirname "$0")"
tools/deps.sh test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)" "$@"
