#!/usr/bin/env bash
# Builds the project with AddressSanitizer and UndefinedBehaviorSanitizer
# (build-asan, Debug) and runs every test there: a memory error or undefined
# behaviour anywhere the tests reach fails the run, not only a wrong result.
#
#   bash scripts/test.sh               the sanitizer build and its tests
#   bash scripts/test.sh plain asan    also the optimised build (build-plain)
#                                      that the demo and the benchmark use
#
# One build keeps a run on a 2-core machine within CI's time (the optimised
# build costs as much to compile again as the sanitizer build).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
variants=("$@")
[ "${#variants[@]}" -eq 0 ] && variants=(asan)
for variant in "${variants[@]}"; do
  case "$variant" in
    plain) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    asan) flags=(-DCMAKE_BUILD_TYPE=Debug -DTQ_SANITIZE=ON) ;;
    *)
      echo "scripts/test.sh: unknown build '$variant' (plain or asan)" >&2
      exit 2
      ;;
  esac
  dir=build-$variant
  cmake -S . -B "$dir" "${flags[@]}" > /dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests ($variant build)"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
done
