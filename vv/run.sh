#!/bin/sh
# Verification and validation of skinburn on the current build: runs every case and writes
# docs/verification.md, docs/validation.md, docs/routine.md and their figures (docs/vv/). Builds nothing.
#   vv/run.sh [--quick] [--docs DIR] [--skinburn PATH] [--processes N] [--only verification|validation|routine]...
# Needs Debian's python3-numpy, python3-scipy and python3-matplotlib (tools/deps.sh installs them).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
export PYTHONPATH="$root/python:$root${PYTHONPATH:+:$PYTHONPATH}"
export PYTHONDONTWRITEBYTECODE=1
cd "$root"
exec /usr/bin/python3 -m vv "$@"
