#!/usr/bin/env bash
# Builds the project and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-plain -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
# Only the front end and what its jobs run (the plug-in, the Priam and
# docker stand-ins): no tests, no benchmark.
cmake --build build-plain -j "$(nproc)" --target tqcass
./build-plain/tools/tqcass demo
