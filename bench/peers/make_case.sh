#!/usr/bin/env bash
# Writes a data directory for the peer comparison:
#
#   bench/peers/make_case.sh [--varying] DIR NODES STEPS [DELTAT [DELTAX]]
#
# Hot gas on the exposed face and the body on the inner one, both CONVECTION
# faces with constant tables: h = 250 W/(m^2 K) from gas at 1000 K on the
# left, h = 20 W/(m^2 K) from 310 K on the right; uniform skin (k 0.37,
# rho 1000, c 3600) at 310 K. The standard burn constants (entries 11-14 are
# 0). Every node is burnt (BURNDEPTH 1) and node 1's history is the per-step
# report (OUTNODE 1, one line per step), so the listing does not dominate.
#
# By default the exposure lasts 2 s and the slab is 3 mm deep whatever the
# grid: DELTAT = 2 s / STEPS, DELTAX = 3 mm / NODES. Omega then passes
# through 1 some 0.3 mm under the surface and the deep nodes stay far below 1.
# The depth tables reach 10 mm and the time tables 10 s, beyond any grid
# these defaults make.
#
# --varying makes every table change instead, for agreement checks that
# must see each value used at its own node and time record: an epidermis
# (k 0.21, rho 1200, c 3590) over dermis (0.37, 1100, 3300) at 80 um,
# a starting temperature falling from 312 K to 309 K, a gas cooling from
# 1000 K to 600 K while h falls from 300 to 100, and an inner face whose h
# and ambient temperature both rise.
set -euo pipefail
varying=0
if [ "${1:-}" = --varying ]; then varying=1; shift; fi
if [ $# -lt 3 ]; then
  echo "usage: $0 [--varying] DIR NODES STEPS [DELTAT [DELTAX]]" >&2
  exit 2
fi
dir=$1 nodes=$2 steps=$3
dt=${4:-$(awk -v s="$steps" 'BEGIN { printf "%.6g", 2.0 / s }')}
dx=${5:-$(awk -v n="$nodes" 'BEGIN { printf "%.6g", 0.003 / n }')}
mkdir -p "$dir"
cat >"$dir/DATA.DAT" <<DATA
# Peer comparison: $nodes nodes $dx m apart, $steps steps of $dt s.
Hot gas on both-convection skin, every node burnt
Listing time for the full temperature profile: 0.0 sec
Node for the history and Omega: 1 node
Results to file (VERBOSE flag): 1
List A-matrix: 0
List T-initial: 0
Omega at every node (burn depth): 1
No pauses: 1
Trial number: 1
Date of execution: 12/07/26
Name of operator: SKB
Frequency factor mantissa: 0
Activation-energy: 0
Gas-constant: 0
Left BC: CONVECTION
RBC: CONVECTION
Time steps: $steps
delta-t: $dt sec
delta-x: $dx m
NODES: $nodes
DATA
if [ "$varying" = 0 ]; then
  cat >>"$dir/DATA.DAT" <<DATA
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
2 pairs
0.0 250.0
10.0 250.0
! LEFT_AMBIENT
2 pairs
0.0 1000.0
10.0 1000.0
! RIGHT_BC
2 pairs
0.0 20.0
10.0 20.0
! RIGHT_AMBIENT
2 pairs
0.0 310.0
10.0 310.0
!
DATA
else
  cat >>"$dir/DATA.DAT" <<DATA
Distribution: INITIAL_TEMPERATURE
3 pairs
0.0 312.0
0.001 310.0
0.01 309.0
! CONDUCTIVITY
4 pairs
0.0 0.21
0.00008 0.21
0.0001 0.37
0.01 0.37
! DENSITY
4 pairs
0.0 1200.0
0.00008 1200.0
0.0001 1100.0
0.01 1100.0
! HEAT_CAPACITY
4 pairs
0.0 3590.0
0.00008 3590.0
0.0001 3300.0
0.01 3300.0
! LEFT_BC
3 pairs
0.0 300.0
1.0 200.0
10.0 100.0
! LEFT_AMBIENT
3 pairs
0.0 1000.0
0.5 950.0
10.0 600.0
! RIGHT_BC
2 pairs
0.0 10.0
10.0 40.0
! RIGHT_AMBIENT
2 pairs
0.0 309.0
10.0 311.0
!
DATA
fi
