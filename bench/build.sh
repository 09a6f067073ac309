#!/bin/sh
# Builds the programs and the benchmark helpers in BUILD_DIR (default
# build/release, configured for a release build when it is new) and prints
# its absolute path. The benchmark scripts start with it.
#
#   bench/build.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DZELK_BENCH=ON >/dev/null
else
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELK_BENCH=ON >/dev/null
fi
cmake --build "$build" -j "$(nproc)" >/dev/null
echo "$build"
