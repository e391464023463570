#!/usr/bin/env bash
# Installs what is missing, builds, and starts the demo from the repository
# root so that ./data/walker.xml is found. An argument names another actor
# file: ./run.sh /tmp/w.xml
set -eu
cd "$(dirname "$0")"
tools/deps.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target qvdemo
exec ./build/qvdemo "$@"
