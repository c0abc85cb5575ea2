#!/bin/sh
# The README's worked study, regenerated: the airbag-jet trial of the Python
# package, gas temperature x stand-off, the CSV in out/gas-standoff/ and the
# burn-degree map in docs/study-gas-standoff.png.
#   tools/study/gas-standoff.sh [STUDY-OPTIONS...]
set -e
cd "$(dirname "$0")/../.."
mkdir -p out/gas-standoff
PYTHONPATH=python /usr/bin/python3 -m skinburn template airbag-jet > out/gas-standoff/airbag-jet.json
/usr/bin/python3 tools/study/study.py "$@" out/gas-standoff/airbag-jet.json tools/study/gas-standoff.json \
    out/gas-standoff
/usr/bin/python3 tools/plot/plot_study.py out/gas-standoff/study.csv --map \
    --x exposure.standoff_ratio -o docs/study-gas-standoff.png
