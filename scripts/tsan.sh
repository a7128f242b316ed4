#!/usr/bin/env bash
# Builds the project with ThreadSanitizer into build-tsan and runs the
# end-to-end tests and the job runner's tests there. The programs the tests
# start (Priam stand-in, docker stand-in, node utility) are built the same
# way, so their races are reported too. Every report goes to
# build-tsan/tsan-logs/ (one file per process); the script ends with the
# number of reports and fails when a test failed or anything was reported.
# scripts/tsan.supp holds the suppressions, only for code outside this
# project.
#
#   bash scripts/tsan.sh                 build and run
#   TQ_JOBS=3 bash scripts/tsan.sh       build and test jobs (default: nproc)
#   TQ_TSAN_FILTER=RunnerRestore bash scripts/tsan.sh
#                                        only the tests whose names match
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=build-tsan
jobs=${TQ_JOBS:-$(nproc)}
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
start=$(date +%s)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTQ_TSAN=ON "${launcher[@]}" > /dev/null
# The two test programs and everything they start.
cmake --build "$dir" -j "$jobs" --target e2e_tests platform_tests
built=$(date +%s)

logs=$root/$dir/tsan-logs
rm -rf "$logs"
mkdir -p "$logs"
# history_size: longer access histories, so that both sides of a race show.
export TSAN_OPTIONS="suppressions=$root/scripts/tsan.supp log_path=$logs/tsan history_size=4 \
second_deadlock_stack=1 halt_on_error=0 ${TSAN_OPTIONS:-}"
filter=()
[ -n "${TQ_TSAN_FILTER:-}" ] && filter=(-R "$TQ_TSAN_FILTER")
status=0
echo "== end-to-end tests under ThreadSanitizer"
ctest --test-dir "$dir" -L '^e2e$' "${filter[@]}" --output-on-failure -j "$jobs" \
  --timeout 1800 || status=1
echo "== job runner tests under ThreadSanitizer"
ctest --test-dir "$dir" -L '^platform$' -R "${TQ_TSAN_FILTER:-(^|/)Runner}" --output-on-failure \
  -j "$jobs" --timeout 900 || status=1
done_at=$(date +%s)

reports=$(cat "$logs"/tsan.* 2> /dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
echo "== ThreadSanitizer: $reports reports (build $((built - start)) s, tests $((done_at - built)) s)"
if [ "$reports" -gt 0 ]; then
  # One line per report: its kind and its first frame in this project (or
  # its summary line when no frame is).
  for file in "$logs"/tsan.*; do
    awk -v root="$root/" '
      /^WARNING: ThreadSanitizer/ { kind = $0; sub(/ \(pid=.*/, "", kind); want = 1; next }
      want && /^ +#[0-9]+ / && index($0, root) {
        line = $0; sub(/^ +#[0-9]+ +/, "", line); print kind ": " line; want = 0
      }
      want && /^SUMMARY:/ { print kind ": outside the project: " $0; want = 0 }
    ' "$file"
  done | sed "s|$root/||g" | sort | uniq -c | sort -rn
  echo "reports: $logs"
  status=1
fi
exit "$status"
