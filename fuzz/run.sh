#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer
# + libFuzzer) in build/fuzz and runs each for a bounded time.
#
#   fuzz/run.sh [seconds per target, default 20] [target ...]
#
# Each target starts from its seeds (fuzz/corpus/<target>) and the saved
# crash inputs (fuzz/regressions/<target>); what it finds goes to
# build/fuzz/corpus/<target>, faults to build/fuzz/artifacts/<target>/ and the
# log to build/fuzz/logs/<target>.log. Exits non-zero when any target found
# a crash, leak, timeout or out-of-memory input.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_datadat fuzz_datafile fuzz_gasprop)

build=build/fuzz
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DSKINBURN_FUZZ=ON -DSKINBURN_SANITIZE=ON \
  -DSKINBURN_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null || {
  echo "build failed" >&2
  exit 1
}

max_len() {
  case "$1" in
    fuzz_datadat) echo 4096 ;;  # the example DATA.DAT is 1 KB
    *) echo 2048 ;;             # a data file or GASPROP.DAT: well under 1 KB
  esac
}

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=0
summary=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  log="$build/logs/$target.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  echo "== $target: ${seconds}s"
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict=fuzz/skinburn.dict -artifact_prefix="$artifacts" \
    "$work" "fuzz/corpus/$target" "fuzz/regressions/$target" >"$log" 2>&1
  status=$?
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  coverage="$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)"
  result=ok
  if [[ $status -ne 0 ]] || grep -qE '^(==[0-9]+==ERROR|SUMMARY: )' "$log"; then
    result="FAILED (status $status): $(grep -E '^(SUMMARY|==[0-9]+==ERROR)' "$log" | head -1)"
    grep -E "^artifact_prefix|Test unit written to" "$log"
    failed=1
  fi
  summary+=("$(printf '%-14s executions: %-9s %-22s %s' "$target" "${executions:-?}" "${coverage:-?}" "$result")")
done
echo
printf '%s\n' "${summary[@]}"
exit "$failed"
