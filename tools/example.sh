#!/usr/bin/env bash
# Builds skinburn and runs the shipped example (default: airbag-jet) on a
# fresh copy of its data directory under out/, then shows its OUTPUT.TXT.
set -euo pipefail
cd "$(dirname "$0")/.."
example="${1:-airbag-jet}"
tools/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" --target skinburn
rm -rf "out/$example" && mkdir -p out && cp -r "examples/$example" out/
rm -f "out/$example/OUTPUT.TXT" "out/$example/console.txt"
status=0
./build/default/skinburn "out/$example/" </dev/null || status=$?
echo "exit status $status; report in out/$example/OUTPUT.TXT:"
head -n 40 "out/$example/OUTPUT.TXT"
echo "..."
tail -n 5 "out/$example/OUTPUT.TXT"
exit "$status"
