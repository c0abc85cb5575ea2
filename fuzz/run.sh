#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer
# + libFuzzer) in build/fuzz and runs each for a bounded time.
#
#   fuzz/run.sh [seconds per target, default 20] [target ...]
#
# Targets, in the default order (fuzz_cmdline last: it runs the whole
# program, and the slowest):
#   fuzz_datadat   DATA.DAT under sound data files
#   fuzz_datafile  one data file (INITTEMP.DAT .. RIGHTAMB.DAT, LEFTIMP.DAT, PERFUSE.DAT)
#   fuzz_gasprop   GASPROP.DAT under the jet correlation
#   fuzz_check     a whole data directory, then the --check=json document
#                  and what it promises (fuzz/fuzz_check.cpp)
#   fuzz_cmdline   the arguments of the program, confined to a temporary
#                  directory (fuzz/fuzz_cmdline.cpp)
# With FUZZ_RUNS=N each target runs N inputs instead of for a time.
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
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_datadat fuzz_datafile fuzz_gasprop fuzz_check fuzz_cmdline)

# Absolute paths: fuzz_cmdline works in its temporary directory, where a
# crash would otherwise leave its input.
build="$PWD/build/fuzz"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DSKINBURN_FUZZ=ON -DSKINBURN_SANITIZE=ON \
  -DSKINBURN_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" >/dev/null || {
  echo "build failed" >&2
  exit 1
}

max_len() {
  case "$1" in
    fuzz_datadat) echo 4096 ;;  # the example DATA.DAT is 1 KB
    fuzz_check) echo 8192 ;;    # DATA.DAT and the files it calls in: the examples are under 2 KB
    fuzz_cmdline) echo 512 ;;   # a few arguments
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
  if [[ -n "${FUZZ_RUNS:-}" ]]; then
    limit=(-runs="$FUZZ_RUNS")
    echo "== $target: $FUZZ_RUNS inputs"
  else
    limit=(-max_total_time="$seconds")
    echo "== $target: ${seconds}s"
  fi
  # libFuzzer refuses a corpus folder that is not there, and a clone has no
  # regressions folder for a target without saved crashes.
  seeds=("$work")
  for folder in "$PWD/fuzz/corpus/$target" "$PWD/fuzz/regressions/$target"; do
    [[ -d "$folder" ]] && seeds+=("$folder")
  done
  "$build/fuzz/$target" "${limit[@]}" -max_len="$(max_len "$target")" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict="$PWD/fuzz/skinburn.dict" -artifact_prefix="$artifacts" \
    "${seeds[@]}" >"$log" 2>&1
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
