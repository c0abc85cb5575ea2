#!/usr/bin/env bash
# Whole-run benchmark of skinburn.
#
#   bench/run.sh [--capacity] [--only "1 3"] [--repeat N] [--check BINARY] [--results] [--keep] [--no-kernels]
#
# Builds the release preset, runs the kernel benchmarks (bench/kernels.cpp)
# to measure the per-unit floors on this machine, makes one data directory
# per case in a temporary folder, runs the skinburn binary on each and prints
# a table of wall time and peak resident memory against the floors.
#
#   --capacity     also run case 4 (30000 nodes x 29999 steps, ~7.2 GB matrix;
#                  minutes)
#   --only LIST    run only the cases in LIST (numbers 1..4)
#   --repeat N     run every case N times and keep the run with the least CPU
#                  time (the machine may be shared; default 1)
#   --check BIN    also run BIN on a fresh copy of every case and compare its
#                  OUTPUT.TXT, standard output and exit status byte for byte
#   --results      also run every case with --results PREFIX and report the
#                  time and peak memory the bundle (PREFIX.json, PREFIX.npy)
#                  adds; its console, OUTPUT.TXT and status must not change
#   --keep         keep the temporary folder (its path is printed)
#   --no-kernels   skip the kernel benchmarks (the table then has no floors)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
capacity=0
only=""
check=""
keep=0
kernels=1
repeat=1
bundle=0
while [ $# -gt 0 ]; do
  case "$1" in
    --capacity) capacity=1 ;;
    --only) only="$2"; shift ;;
    --check) check=$(realpath "$2"); shift ;;
    --keep) keep=1 ;;
    --no-kernels) kernels=0 ;;
    --repeat) repeat="$2"; shift ;;
    --results) bundle=1 ;;
    -h|--help) sed -n '2,24p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done

cd "$root"
echo "== build (release preset)"
cmake --preset release >/dev/null
cmake --build --preset release --target skinburn skinburn_kernels skinburn_measure -- -j"$(nproc)" >/dev/null
build="$root/build/release"
binary="$build/skinburn"
measure="$build/bench/skinburn_measure"

work=$(mktemp -d "${TMPDIR:-/tmp}/skinburn-bench.XXXXXX")
cleanup() { if [ "$keep" = 1 ]; then echo "kept: $work"; else rm -rf "$work"; fi; }
trap cleanup EXIT

# ---------------------------------------------------------------- floors
floors="$work/floors.txt"
: >"$floors"
if [ "$kernels" = 1 ]; then
  echo "== kernels (floors on this machine)"
  "$build/bench/skinburn_kernels" --floors="$floors" --benchmark_min_time=0.1 --benchmark_repetitions=3 | tee "$work/kernels.txt" |
    sed -n '/^== summary/,$p'
fi
floor() {  # floor KEY: ns per unit, or empty
  awk -v k="$1" '$1 == k { print $2 }' "$floors"
}

# ---------------------------------------------------------------- cases
# write_case DIR NODES STEPS DELTAT DELTAX OUTTIME OUTNODE BURNDEPTH
# A jet on the left face from LEFTIMP.DAT with the air of GASPROP.DAT, the
# right face held at 310 K; the depth tables reach 10 mm and the time tables
# 1 s, beyond every case's model depth and time.
write_case() {
  local dir=$1 nodes=$2 steps=$3 dt=$4 dx=$5 outtime=$6 outnode=$7 burndepth=$8
  mkdir -p "$dir"
  cp "$root/examples/airbag-jet/GASPROP.DAT" "$dir/"
  cat >"$dir/DATA.DAT" <<EOF
# Benchmark trial: $nodes nodes $dx m apart, $steps steps of $dt s.
Benchmark airbag jet exposure
Listing time for the full temperature profile: $outtime sec
Node for the history and Omega: $outnode node
Results to file (VERBOSE flag): 1
List A-matrix: 0
List T-initial: 0
Omega at every node (burn depth): $burndepth
No pauses: 1
Trial number: 1
Date of execution: 12/07/26
Name of operator: SKB
Frequency factor mantissa: 0
Activation-energy: 0
Gas-constant: 0
Left BC: CONVECTION
RBC: TEMPERATURE
Time steps: $steps
delta-t: $dt sec
delta-x: $dx m
NODES: $nodes
Distribution: INITIAL_TEMPERATURE
2 pairs
0.0 310.0
0.01 310.0
! CONDUCTIVITY
2 pairs
0.0 0.37
0.01 0.37
! DENSITY
2 pairs
0.0 1000.0
0.01 1000.0
! HEAT_CAPACITY
2 pairs
0.0 3600.0
0.01 3600.0
! LEFT_BC
-1 jet
! LEFT_AMBIENT
3 pairs
0.0 1000.0
0.06 1000.0
1.0 600.0
! RIGHT_BC
2 pairs
0.0 310.0
1.0 310.0
! RIGHT_AMBIENT
2 pairs
0.0 310.0
1.0 310.0
!
EOF
  cat >"$dir/LEFTIMP.DAT" <<EOF
# Jet of the driver airbag's inflator on the exposed face.
Jet impingement data
Near field term: 1.0
Reynolds number: 0.0
Nozzle diameter: 0.01
Offaxis spacing: 0.0
Standoff distance: 0.05
Boundary pairs: 2 pairs
0.0 1.0
1.0 1.0
Gas velocity: 3 pairs
0.0 120.0
0.06 120.0
1.0 20.0
END
EOF
}

# number|name|nodes|steps|per-step report; every case burns all nodes
# (BURNDEPTH 1, or OUTNODE 0). BURNDEPTH 1 needs OUTTIME 0, so the cases with
# it report node 1's history (OUTNODE 1), one line per step.
cases=()
cases+=("1|typical|41|1000|all nodes every step")
cases+=("2|fine grid|3000|29999|node 1 history (OUTNODE 1)")
cases+=("3|full listing|1000|10000|all nodes every step")
[ "$capacity" = 1 ] && cases+=("4|capacity|30000|29999|node 1 history (OUTNODE 1)")

make_case() {  # make_case NUMBER DIR
  case "$1" in
    1) mkdir -p "$2"
       find "$root/examples/airbag-jet" -maxdepth 1 -type f ! -name OUTPUT.TXT -exec cp {} "$2/" \; ;;
    2) write_case "$2" 3000 29999 0.00001 0.000001 0.0 1 1 ;;
    3) write_case "$2" 1000 10000 0.00001 0.000004 0.0 0 0 ;;
    4) write_case "$2" 30000 29999 0.00001 0.0000001 0.0 1 1 ;;
  esac
}

run_one() {  # run_one BINARY DIR [OPTION...] -> report in DIR.report
  local status=0
  "$measure" "$2.report" "$1" "${@:3}" "$2/" <"/dev/null" >"$2.stdout" 2>"$2.stderr" || status=$?
  [ "$status" = 0 ] || { echo "measure failed ($status)" >&2; return 1; }
  # The data directory's path is part of no output, but keep stdout comparable.
  sed -i "s|$2/|<dir>/|g" "$2.stdout"
}

# Floor of a whole run, in seconds, from the kernel floors:
#   time loop   NODES x STEPS bare Thomas node-steps + STEPS jet coefficients
#               (each with its GASPROP.DAT read) + STEPS open/append/close of
#               OUTPUT.TXT + first touch of the TempMatrix block
#   report      listing lines (all nodes every step) at the cost of writing
#               their bytes already formatted
#   burn        burn nodes x 4 STEPS bare exp calls
case_floor() {  # case_floor NODES STEPS LINES BURNNODES
  local thomas jet append touch line burn
  thomas=$(floor "thomas_ns_per_node_$1"); [ -n "$thomas" ] || thomas=$(floor thomas_ns_per_node)
  jet=$(floor jet_ns_per_call); append=$(floor append_ns_per_step)
  touch=$(floor touch_ns_per_byte); line=$(floor line_ns_per_line); burn=$(floor exp_ns_per_call)
  [ -n "$thomas" ] && [ -n "$jet" ] && [ -n "$burn" ] || { echo ""; return; }
  awk -v n="$1" -v s="$2" -v l="$3" -v b="$4" -v th="$thomas" -v jet="$jet" -v ap="$append" \
      -v to="$touch" -v li="$line" -v bu="$burn" 'BEGIN {
    march = n * s * th + s * (jet + ap) + (s + 2) * (n + 1) * 8 * to
    report = l * li
    burn = b * 4 * s * bu
    printf "%.3f %.3f %.3f %.3f\n", march * 1e-9, report * 1e-9, burn * 1e-9, (march + report + burn) * 1e-9
  }'
}

printf '\n== cases (%s)\n' "$binary"
table="$work/table.txt"
printf '%-3s %-13s %6s %6s %-28s %8s %8s %8s %7s %9s %10s %7s %s\n' \
  "#" "case" "nodes" "steps" "per-step report" "wall s" "CPU s" "floor s" "x floor" "RSS MiB" "matrix MiB" "x(m+64)" "check" >"$table"
for entry in "${cases[@]}"; do
  IFS='|' read -r number name nodes steps layout <<<"$entry"
  if [ -n "$only" ] && ! grep -qw "$number" <<<"$only"; then continue; fi
  dir="$work/case$number"
  echo "-- case $number: $name ($nodes nodes x $steps steps)"
  best=""
  for ((attempt = 1; attempt <= repeat; attempt++)); do
    rm -rf "$dir"
    make_case "$number" "$dir"
    run_one "$binary" "$dir"
    read -r t_wall t_cpu t_rss t_code <"$dir.report"
    [ "$repeat" = 1 ] || echo "   run $attempt: wall $t_wall s, CPU $t_cpu s"
    if [ -z "$best" ] || awk -v a="$t_cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$t_cpu
      wall=$t_wall; cpu=$t_cpu; rss_kib=$t_rss; code=$t_code
    fi
  done
  [ "$code" = 0 ] || echo "   exit status $code (stderr: $(head -c 300 "$dir.stderr"))"
  burn_nodes=$nodes
  # Formatted lines beyond the one-line append of every step.
  if [ "$layout" = "all nodes every step" ]; then lines=$((nodes * steps)); else lines=0; fi
  read -r f_march f_report f_burn f_total <<<"$(case_floor "$nodes" "$steps" "$lines" "$burn_nodes")" || true
  matrix_mib=$(awk -v n="$nodes" -v s="$steps" 'BEGIN { printf "%.1f", (s + 2) * (n + 2) * 8 / 1048576 }')
  rss_mib=$(awk -v k="$rss_kib" 'BEGIN { printf "%.1f", k / 1024 }')
  x_rss=$(awk -v r="$rss_mib" -v m="$matrix_mib" 'BEGIN { printf "%.2f", r / (m + 64) }')
  if [ -n "${f_total:-}" ]; then
    x_floor=$(awk -v w="$cpu" -v f="$f_total" 'BEGIN { printf "%.2f", w / f }')
    echo "   wall $wall s, CPU $cpu s; floor $f_total s (time loop $f_march, report $f_report, burn $f_burn)"
  else
    f_total="-"; x_floor="-"
  fi
  verdict="-"
  if [ -n "$check" ]; then
    other="$work/case$number.check"
    make_case "$number" "$other"
    run_one "$check" "$other"
    read -r other_wall other_cpu other_rss other_code <"$other.report"
    if cmp -s "$dir/OUTPUT.TXT" "$other/OUTPUT.TXT" && cmp -s "$dir.stdout" "$other.stdout" &&
       cmp -s "$dir.stderr" "$other.stderr" && [ "$code" = "$other_code" ]; then
      verdict="identical"
    else
      verdict="DIFFERS"
    fi
    echo "   check against $check: $verdict (it took wall $other_wall s, CPU $other_cpu s, peak RSS $((other_rss / 1024)) MiB)"
    rm -rf "$other"
  fi
  printf '%-3s %-13s %6s %6s %-28s %8s %8s %8s %7s %9s %10s %7s %s\n' \
    "$number" "$name" "$nodes" "$steps" "$layout" "$wall" "$cpu" "$f_total" "$x_floor" "$rss_mib" "$matrix_mib" "$x_rss" "$verdict" >>"$table"
  if [ "$bundle" = 1 ]; then
    with="$work/case$number.bundle"
    make_case "$number" "$with"
    run_one "$binary" "$with" --results "$with.out"
    read -r b_wall b_cpu b_rss b_code <"$with.report"
    if cmp -s "$dir/OUTPUT.TXT" "$with/OUTPUT.TXT" && cmp -s "$dir.stdout" "$with.stdout" &&
       cmp -s "$dir.stderr" "$with.stderr" && [ "$code" = "$b_code" ]; then same="identical"; else same="DIFFERS"; fi
    npy_mib=$(awk -v b="$(stat -c %s "$with.out.npy" 2>/dev/null || echo 0)" 'BEGIN { printf "%.1f", b / 1048576 }')
    json_mib=$(awk -v b="$(stat -c %s "$with.out.json" 2>/dev/null || echo 0)" 'BEGIN { printf "%.2f", b / 1048576 }')
    b_rss_mib=$(awk -v k="$b_rss" 'BEGIN { printf "%.1f", k / 1024 }')
    echo "   with --results: wall $b_wall s, CPU $b_cpu s, peak RSS $b_rss_mib MiB; .npy $npy_mib MiB, .json $json_mib MiB; output $same"
    printf '%-3s %-13s %8s %8s %8s %8s %9s %7s %9s %9s %s\n' "$number" "$name" "$wall" "$b_wall" "$cpu" "$b_cpu" "$b_rss_mib" \
      "$(awk -v r="$b_rss_mib" -v m="$matrix_mib" 'BEGIN { printf "%.2f", r / (m + 64) }')" "$npy_mib" "$json_mib" "$same" >>"$work/bundle.txt"
    rm -rf "$with" "$with".*
  fi
  [ "$keep" = 1 ] || rm -rf "$dir"
done

printf '\n== results (%s, %s cores, %s)\n' \
  "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)" "$(nproc)" \
  "$(awk '/^MemTotal/ { printf "%.1f GiB RAM", $2 / 1048576 }' /proc/meminfo)"
cat "$table"
echo "x floor: CPU time (user + system) over the sum of the kernel floors, also CPU"
echo "time: bare Thomas node-steps, one jet coefficient per step with its file read,"
echo "one bare OUTPUT.TXT open/append/close per step, first touch of the matrix, the"
echo "bytes of the listing lines written unformatted, 4 bare exp calls per burn"
echo "node-step. CPU time, not wall time, because the machine may be shared."
echo "x(m+64): peak RSS over the TempMatrix block plus 64 MiB (target <= 1)."
if [ "$bundle" = 1 ] && [ -f "$work/bundle.txt" ]; then
  printf '\n== the results bundle (--results PREFIX)\n'
  printf '%-3s %-13s %8s %8s %8s %8s %9s %7s %9s %9s %s\n' "#" "case" "wall s" "w/bundle" "CPU s" "w/bundle" "RSS MiB" "x(m+64)" ".npy MiB" ".json MiB" "output"
  cat "$work/bundle.txt"
fi
