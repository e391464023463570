#!/usr/bin/env bash
# Installs what is missing, builds, and starts the demo from the repository
# root so that ./data/walker.xml is found. An argument names another actor
# file: ./run.sh /tmp/w.xml
set -eu
cd "$(dirname "$0")"
tools/deps.sh build
# The demo needs neither the tests nor their packages; ./test.sh turns them
# back on in the same build directory.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target qvdemo
exec ./build/qvdemo "$@"
