#!/usr/bin/env bash
# Builds the project and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-plain -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-plain -j "$(nproc)"
./build-plain/tools/tqcass demo
