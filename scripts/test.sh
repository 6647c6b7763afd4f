#!/usr/bin/env bash
# Builds every configuration and runs every test: Linux (plain, AddressSanitizer, ThreadSanitizer) and
# Windows x64 under Wine. Installs what is missing first (Debian 12, as root).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
status=0
for preset in linux linux-asan linux-tsan windows; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  # Sanitizers report to stderr and fail the process; abort on the first report.
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --preset "$preset" -j "$jobs" </dev/null || status=1
done
exit $status
