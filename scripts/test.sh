#!/usr/bin/env bash
# Builds the project twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
for variant in plain asan; do
  dir=build-$variant
  flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "$variant" = asan ] && flags=(-DCMAKE_BUILD_TYPE=Debug -DTQ_SANITIZE=ON)
  cmake -S . -B "$dir" "${flags[@]}" > /dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests ($variant build)"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
done
