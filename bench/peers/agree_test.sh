#!/usr/bin/env bash
# The program and both peers compute the same temperatures and Omega (to
# 1e-9 relative) on two small cases: constant tables on a uniform slab, and
# every table varying (two skin layers, a starting profile, face values
# changing with time), so that each table value must be used at its own
# node and time record.
#
#   bench/peers/agree_test.sh SKINBURN
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/make_case.sh" "$work/constant" 100 1000
"$here/make_case.sh" --varying "$work/varying" 120 1500
/usr/bin/python3 "$here/compare.py" --skinburn "$1" "$work/constant/" "$work/varying/"
