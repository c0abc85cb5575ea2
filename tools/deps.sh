#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test skinburn.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
[ -e /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -e /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
[ -e /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -e /usr/include/zlib.h ] || need+=(zlib1g-dev)
for extra in "$@"; do
  case "$extra" in
    clang) command -v clang++ >/dev/null || need+=(clang) ;;
    *) dpkg -s "$extra" >/dev/null 2>&1 || need+=("$extra") ;;
  esac
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi
