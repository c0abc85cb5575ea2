#!/usr/bin/env bash
# Builds skinburn twice, plainly (warnings as errors) and with AddressSanitizer
# + UndefinedBehaviorSanitizer, and runs the whole test suite on both.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh python3-matplotlib python3-numpy python3-scipy python3-pytest python3-pandas parallel
jobs="$(nproc)"
for preset in default asan-ubsan; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  # The console-dialogue tests read waits off /proc and can misjudge one
  # under heavy load; a failing test is retried before it counts.
  ctest --preset "$preset" -j"$jobs" --repeat until-pass:3
done
