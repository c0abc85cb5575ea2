#!/usr/bin/env bash
# Whole-run benchmark of skinburn.
#
#   bench/run.sh [--capacity] [--only "1 3"] [--repeat N] [--check BINARY] [--results] [--keep] [--no-kernels]
#                [--peers] [--rounds N] [--idle S]
#
# Builds the release preset, runs the kernel benchmarks (bench/kernels.cpp)
# to measure the per-unit floors on this machine, makes one data directory
# per case in a temporary folder, runs the skinburn binary on each and prints
# a table of wall time and peak resident memory against the floors.
#
#   --capacity     also run case 4 (30000 nodes x 29999 steps, ~7.2 GB matrix;
#                  minutes)
#   --only LIST    run only the cases in LIST (numbers 1..4, and the peer
#                  cases p0 p1 p2, which imply --peers)
#   --repeat N     run every case N times and keep the run with the least CPU
#                  time (the machine may be shared; default 1)
#   --check BIN    also run BIN on a fresh copy of every case and compare its
#                  OUTPUT.TXT, standard output and exit status byte for byte
#   --results      also run every case with --results PREFIX and report the
#                  time and peak memory the bundle (PREFIX.json, PREFIX.npy)
#                  adds; its console, OUTPUT.TXT and status must not change
#   --keep         keep the temporary folder (its path is printed)
#   --no-kernels   skip the kernel benchmarks (the table then has no floors)
#   --peers        also time the program against its two peers (bench/peers/:
#                  a textbook C implementation and a NumPy/SciPy one of the
#                  same scheme) on the peer cases p1 (1000 nodes x 20000
#                  steps) and p2 (3000 x 29999); p0 (200 x 2000) only when
#                  named in --only. Each case is first checked to agree
#                  (bench/peers/compare.py), then every contender is run
#                  interleaved with the others, round by round: cold (after
#                  S seconds idle, on a fresh copy of the data) and warm
#                  (immediately again, on another fresh copy). The program
#                  runs with its default threads and, when it has the
#                  option, with --threads 1.
#   --rounds N     rounds of the peer timing (default 3; medians are shown)
#   --idle S       seconds idle before every cold run (default 5)
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
peers=0
rounds=3
idle=5
while [ $# -gt 0 ]; do
  case "$1" in
    --capacity) capacity=1 ;;
    --only) only="$2"; shift ;;
    --check) check=$(realpath "$2"); shift ;;
    --keep) keep=1 ;;
    --no-kernels) kernels=0 ;;
    --repeat) repeat="$2"; shift ;;
    --results) bundle=1 ;;
    --peers) peers=1 ;;
    --rounds) rounds="$2"; shift ;;
    --idle) idle="$2"; shift ;;
    -h|--help) sed -n '2,37p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done
if grep -qw 'p[0-9]' <<<"$only"; then peers=1; fi

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

# Floors of a whole run, in seconds, from the kernel floors (CPU time):
#   floor   the work no implementation of the scheme avoids: NODES x STEPS
#           bare Thomas node-steps, 2 exp calls per burn node-step (the
#           fewest distinct rate points of RK4 over the history), and the
#           fixed costs: STEPS jet coefficients (each with its GASPROP.DAT
#           read) when the jet is in use, STEPS open/append/close of
#           OUTPUT.TXT, the listing lines (all nodes every step) at the cost
#           of writing their bytes already formatted. No history store: the
#           scheme needs two rows at a time.
#   forced  what identical results force: the Thomas sweep with its two
#           divisions a row as tridag makes them; the reference temperature
#           of every node comes from the last step, so every rate waits for
#           the end of the march: either a second march (the sweep again) or
#           the history kept (8 bytes a node-step, first touch at the warm or
#           the cold rate), whichever is cheaper; the whole burn arithmetic
#           per node-step (interpolation, scaled exponent, 2 exp, RK4
#           combination); the same fixed costs.
# case_floor NODES STEPS LINES BURNNODES JET prints
#   "march report burn floor forced_warm forced_cold" (seconds)
case_floor() {
  local thomas forced_thomas jet append line exp2 burn_forced warm cold
  thomas=$(floor "thomas_ns_per_node_$1"); [ -n "$thomas" ] || thomas=$(floor thomas_ns_per_node)
  forced_thomas=$(floor "thomas_forced_ns_per_node_$1"); [ -n "$forced_thomas" ] || forced_thomas=$(floor thomas_forced_ns_per_node)
  [ -n "$forced_thomas" ] || forced_thomas=$thomas
  exp2=$(floor "exp2_ns_per_node_step_$1"); [ -n "$exp2" ] || exp2=$(floor exp2_ns_per_node_step)
  [ -n "$exp2" ] || { exp2=$(floor exp_ns_per_call); [ -z "$exp2" ] || exp2=$(awk -v e="$exp2" 'BEGIN { print 2 * e }'); }
  burn_forced=$(floor "burn_forced_ns_per_node_step_$1"); [ -n "$burn_forced" ] || burn_forced=$(floor burn_forced_ns_per_node_step)
  [ -n "$burn_forced" ] || burn_forced=$exp2
  jet=0; [ "$5" = 1 ] && jet=$(floor jet_ns_per_call)
  append=$(floor append_ns_per_step); line=$(floor line_ns_per_line)
  warm=$(floor touch_warm_ns_per_byte); [ -n "$warm" ] || warm=$(floor touch_ns_per_byte)
  cold=$(floor touch_cold_ns_per_byte); [ -n "$cold" ] || cold=$warm
  [ -n "$thomas" ] && [ -n "$jet" ] && [ -n "$exp2" ] || { echo ""; return; }
  awk -v n="$1" -v s="$2" -v l="$3" -v b="$4" -v th="$thomas" -v fth="$forced_thomas" -v jet="$jet" \
      -v ap="${append:-0}" -v li="${line:-0}" -v e2="$exp2" -v bf="$burn_forced" -v warm="${warm:-0}" -v cold="${cold:-0}" '
    function min(a, c) { return a < c ? a : c }
    BEGIN {
      fixed = s * (jet + ap)
      march = n * s * th + fixed
      report = l * li
      burn = b * s * e2
      floor = march + report + burn
      again_warm = min(n * s * fth, n * s * 8 * warm)
      again_cold = min(n * s * fth, n * s * 8 * cold)
      forced = n * s * fth + fixed + report + b * s * bf
      printf "%.3f %.3f %.3f %.3f %.3f %.3f\n", march * 1e-9, report * 1e-9, burn * 1e-9, floor * 1e-9,
        (forced + again_warm) * 1e-9, (forced + again_cold) * 1e-9
    }'
}

printf '\n== cases (%s)\n' "$binary"
table="$work/table.txt"
printf '%-3s %-13s %6s %6s %-28s %8s %8s %8s %7s %8s %8s %9s %10s %7s %s\n' \
  "#" "case" "nodes" "steps" "per-step report" "wall s" "CPU s" "floor s" "x floor" "forced s" "x forced" \
  "RSS MiB" "history MiB" "RSS/32" "check" >"$table"
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
  read -r f_march f_report f_burn f_total f_forced f_forced_cold <<<"$(case_floor "$nodes" "$steps" "$lines" "$burn_nodes" 1)" || true
  matrix_mib=$(awk -v n="$nodes" -v s="$steps" 'BEGIN { printf "%.1f", (s + 2) * (n + 2) * 8 / 1048576 }')
  rss_mib=$(awk -v k="$rss_kib" 'BEGIN { printf "%.1f", k / 1024 }')
  x_rss=$(awk -v r="$rss_mib" 'BEGIN { printf "%.2f", r / 32 }')
  if [ -n "${f_total:-}" ]; then
    x_floor=$(awk -v w="$cpu" -v f="$f_total" 'BEGIN { printf "%.2f", w / f }')
    x_forced=$(awk -v w="$cpu" -v f="$f_forced" 'BEGIN { printf "%.2f", w / f }')
    echo "   wall $wall s, CPU $cpu s; floor $f_total s (time loop $f_march, report $f_report, burn $f_burn);" \
      "forced $f_forced s warm, $f_forced_cold s cold"
  else
    f_total="-"; x_floor="-"; f_forced="-"; x_forced="-"
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
  printf '%-3s %-13s %6s %6s %-28s %8s %8s %8s %7s %8s %8s %9s %10s %7s %s\n' \
    "$number" "$name" "$nodes" "$steps" "$layout" "$wall" "$cpu" "$f_total" "$x_floor" "$f_forced" "$x_forced" \
    "$rss_mib" "$matrix_mib" "$x_rss" "$verdict" >>"$table"
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
      "$(awk -v r="$b_rss_mib" 'BEGIN { printf "%.2f", r / 64 }')" "$npy_mib" "$json_mib" "$same" >>"$work/bundle.txt"
    rm -rf "$with" "$with".*
  fi
  [ "$keep" = 1 ] || rm -rf "$dir"
done

machine=$(printf '%s, %s cores, %s' \
  "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)" "$(nproc)" \
  "$(awk '/^MemTotal/ { printf "%.1f GiB RAM", $2 / 1048576 }' /proc/meminfo)")
if [ "$(wc -l <"$table")" -gt 1 ]; then
printf '\n== results (%s)\n' "$machine"
cat "$table"
echo "x floor: CPU time (user + system) over the sum of the kernel floors, also CPU"
echo "time: bare Thomas node-steps, one jet coefficient per step with its file read,"
echo "one bare OUTPUT.TXT open/append/close per step, the bytes of the listing lines"
echo "written unformatted, 2 bare exp calls per burn node-step (no history store)."
echo "x forced: over what identical results force: the Thomas sweep as tridag makes"
echo "it, a second sweep or the history kept (first touch warm, whichever is"
echo "cheaper), the whole burn arithmetic per node-step, the same fixed costs."
echo "CPU time, not wall time, because the machine may be shared."
echo "history MiB: the size the whole temperature history would have; it is never held."
echo "RSS/32: peak RSS over 32 MiB, the target for a run without --results (<= 1)."
fi
if [ "$bundle" = 1 ] && [ -f "$work/bundle.txt" ]; then
  printf '\n== the results bundle (--results PREFIX)\n'
  printf '%-3s %-13s %8s %8s %8s %8s %9s %7s %9s %9s %s\n' "#" "case" "wall s" "w/bundle" "CPU s" "w/bundle" "RSS MiB" "RSS/64" ".npy MiB" ".json MiB" "output"
  cat "$work/bundle.txt"
fi

# ---------------------------------------------------------------- fixed costs
# What a small run pays whatever its size: the process start (the program
# asked for its version, nothing read), and per step the open, append and
# close of OUTPUT.TXT and the read of GASPROP.DAT (the kernels "step append"
# and "JetConvection" above measure those two).
mean_ms() {  # mean_ms N COMMAND...: mean wall time in ms over N runs
  local n=$1; shift
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < n; i++)); do "$@" </dev/null >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  awk -v s="$start" -v e="$end" -v n="$n" 'BEGIN { printf "%.2f", (e - s) / n / 1e6 }'
}
if [ -z "$only" ] || grep -qw 1 <<<"$only"; then
  printf '\n== fixed costs of a small run (mean wall time)\n'
  echo "process start (--version):          $(mean_ms 200 "$binary" --version) ms ($(file -b "$binary" | grep -o 'statically linked\|dynamically linked'))"
  echo "shell's own start (/bin/true):       $(mean_ms 200 /bin/true) ms"
  typical="$work/fixed"
  make_case 1 "$typical"
  echo "typical run (41 x 1000, jet, report): $(mean_ms 50 "$binary" "$typical/") ms"
  rm -f "$typical/OUTPUT.TXT"
  if [ -n "$check" ]; then
    echo "the same with $check: start $(mean_ms 200 "$check" --version) ms ($(file -b "$check" | grep -o 'statically linked\|dynamically linked')), typical run $(mean_ms 50 "$check" "$typical/") ms"
  fi
  rm -rf "$typical"
fi

# ---------------------------------------------------------------- peers
# The program against two implementations of the same scheme written for
# the benchmark (bench/peers/): a textbook C one (Thomas per step, the whole
# history kept, RK4 with 4 exp calls per node-step; cc -std=c99 -O2) and a
# NumPy/SciPy one (solve_banded per step, RK4 vectorised over the nodes).
# They read the tables as the program lays them (peer_input.py, from
# skinburn --check=json), not the data files; converting is not timed. The
# program reads its data files itself: its input stage is in its time.
[ "$peers" = 1 ] || exit 0

peers_dir="$here/peers"
python=/usr/bin/python3
textbook="$work/textbook"
cc -std=c99 -O2 -o "$textbook" "$peers_dir/textbook.c" -lm

# id|nodes|steps; p0 only when asked for by name.
peer_cases=("p0|200|2000" "p1|1000|20000" "p2|3000|29999")
program_t1=0
if "$binary" --help 2>&1 | grep -q -- --threads; then program_t1=1; fi
contenders=(program)
[ "$program_t1" = 1 ] && contenders+=(program-t1)
contenders+=(textbook numpy)

peer_runs="$work/peer-runs.tsv"
peer_floors="$work/peer-floors.tsv"
: >"$peer_runs"
: >"$peer_floors"

peer_run() {  # peer_run CASE MODE CONTENDER ROUND MASTER INPUT
  local run="$work/$1.run" status=0
  rm -rf "$run"
  cp -r "$5" "$run"
  cp "$6" "$run.in"
  [ "$2" = warm ] || sleep "$idle"
  case "$3" in
    program) "$measure" "$run.report" "$binary" "$run/" </dev/null >"$run.stdout" 2>"$run.stderr" || status=$? ;;
    program-t1) "$measure" "$run.report" "$binary" --threads 1 "$run/" </dev/null >"$run.stdout" 2>"$run.stderr" || status=$? ;;
    textbook) "$measure" "$run.report" "$textbook" "$run.in" </dev/null >"$run.stdout" 2>"$run.stderr" || status=$? ;;
    numpy) "$measure" "$run.report" "$python" "$peers_dir/peer_numpy.py" "$run.in" </dev/null >"$run.stdout" 2>"$run.stderr" || status=$? ;;
  esac
  [ "$status" = 0 ] || { echo "measure failed ($status)" >&2; return 1; }
  read -r r_wall r_cpu r_rss r_code <"$run.report"
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$3" "$4" "$r_wall" "$r_cpu" "$r_rss" "$r_code" >>"$peer_runs"
  printf '   %-4s %-10s round %s: wall %s s, CPU %s s, peak RSS %s MiB%s\n' "$2" "$3" "$4" "$r_wall" "$r_cpu" \
    "$((r_rss / 1024))" "$([ "$r_code" = 0 ] || echo ", STATUS $r_code: $(head -c 200 "$run.stderr")")"
  rm -rf "$run" "$run".*
}

printf '\n== peers (%s; %s rounds, cold after %s s idle)\n' "$machine" "$rounds" "$idle"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for entry in "${peer_cases[@]}"; do
  IFS='|' read -r id nodes steps <<<"$entry"
  if [ -n "$only" ]; then
    grep -qw "$id" <<<"$only" || continue
  elif [ "$id" = p0 ]; then
    continue
  fi
  master="$work/$id"
  "$peers_dir/make_case.sh" "$master" "$nodes" "$steps"
  echo "-- $id: $nodes nodes x $steps steps ($(awk '/^delta-t/ { print $2 }' "$master/DATA.DAT") s," \
    "$(awk '/^delta-x/ { print $2 }' "$master/DATA.DAT") m)"
  echo "   agreement (bench/peers/compare.py):"
  "$python" "$peers_dir/compare.py" --skinburn "$binary" --textbook "$textbook" "$master/" | sed 's/^/   /' ||
    echo "   THE PEERS DO NOT AGREE WITH THE PROGRAM: the timings below compare different computations"
  "$python" "$peers_dir/peer_input.py" "$binary" "$master/" "$master.in"
  read -r _ _ _ f_floor f_warm f_cold <<<"$(case_floor "$nodes" "$steps" 0 "$nodes" 0)" || true
  printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$id" "$nodes" "$steps" "${f_floor:--}" "${f_warm:--}" "${f_cold:--}" >>"$peer_floors"
  for ((round = 1; round <= rounds; round++)); do
    # Interleaved: every contender once per round, the first of the round
    # rotating, each cold then warm.
    count=${#contenders[@]}
    for ((k = 0; k < count; k++)); do
      who=${contenders[$(((k + round - 1) % count))]}
      peer_run "$id" cold "$who" "$round" "$master" "$master.in"
      peer_run "$id" warm "$who" "$round" "$master" "$master.in"
    done
  done
  rm -rf "$master" "$master.in"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

printf '\n== program and peers (medians over %s rounds; %s)\n' "$rounds" "$machine"
"$python" "$peers_dir/summarize.py" "$peer_runs" "$peer_floors" || true
echo "CPU: user + system time; ratios are the row's median over the peer's (below 1: faster"
echo "than the peer). cold: after $idle s idle, on a fresh copy of the data; warm: run again at"
echo "once. floor and forced: see case_floor in this script (forced counts the history"
echo "at the cold first-touch rate for cold runs, the warm one for warm runs)."
