#!/usr/bin/env bash
# Rewrites examples/<name>/expected/ from a fresh run of the built binary.
# Only for a deliberate change of output: review the diff before committing.
set -euo pipefail
cd "$(dirname "$0")/.."
binary="${SKINBURN:-build/default/skinburn}"
for example in examples/*/; do
  name=$(basename "$example")
  work=$(mktemp -d)
  find "$example" -maxdepth 1 -type f ! -name OUTPUT.TXT -exec cp {} "$work/" \;
  status=0
  "$binary" "$work/" </dev/null >"$work/.stdout" 2>"$work/.stderr" || status=$?
  mkdir -p "$example/expected"
  sed "s|$work/|<dir>/|g" "$work/.stdout" >"$example/expected/stdout.txt"
  cp "$work/.stderr" "$example/expected/stderr.txt"
  cp "$work/OUTPUT.TXT" "$example/expected/OUTPUT.TXT" 2>/dev/null || : >"$example/expected/OUTPUT.TXT"
  echo "$status" >"$example/expected/status"
  rm -rf "$work"
  echo "$name: status $status"
done
