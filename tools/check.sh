#!/usr/bin/env bash
# The test suite, in two tiers.
#
#   tools/check.sh          the full run (CI's): builds skinburn twice, plainly (warnings as
#                           errors) and with AddressSanitizer + UndefinedBehaviorSanitizer, and
#                           runs every test on both, the verification and validation pass
#                           included. About 18 minutes from a fresh clone on an idle 2-core
#                           machine (12 of them the sanitizer build's tests), much more on a busy one.
#   tools/check.sh --quick  a first check: the plain build and every test but the verification
#                           and validation pass (CTest label vv); no sanitizer build. About
#                           3 minutes on an idle 2-core machine; 7.5 minutes were measured on
#                           2 cores with a load average of 7 from other builds.
#
# Both install what a Debian machine lacks first (tools/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: tools/check.sh [--quick]" >&2; exit 2 ;;
esac
tools/deps.sh python3-matplotlib python3-numpy python3-scipy python3-pytest python3-pandas parallel python3-distributed mypy
jobs="$(nproc)"
presets="default asan-ubsan"
exclude=()
if [ "$quick" = 1 ]; then
  presets="default"
  exclude=(-LE vv)
  echo "== quick check: plain build, every test but the V&V pass (about 3 minutes on an idle 2-core machine)"
else
  echo "== full check: plain and sanitizer builds, every test (about 18 minutes on an idle 2-core machine," \
       "much more on a busy one; tools/check.sh --quick for a first check)"
fi
start=$SECONDS
for preset in $presets; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  # The console-dialogue tests read waits off /proc and can misjudge one
  # under heavy load; a failing test is retried before it counts.
  ctest --preset "$preset" -j"$jobs" --repeat until-pass:3 "${exclude[@]}"
done
if [ "$quick" = 1 ]; then
  echo "== quick check passed in $((SECONDS - start)) s; tools/check.sh with no option runs the full suite" \
       "(sanitizer build and the V&V pass too), as CI does"
fi
