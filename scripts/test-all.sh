#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test, then repeats the tests in an
# AddressSanitizer + UndefinedBehaviorSanitizer build. Then each fuzz target runs for 30 s
# (clang, ASan + UBSan) and the program soaks for a minute against the simulator with every
# fault; a finding or a failed soak check fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

# CI builds a fresh clone in another folder each time: paths relative to the clone let ccache
# reuse what an earlier run compiled.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
cache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIX_WERROR=ON "${cache[@]}"
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure --timeout 300)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTORVIX_WERROR=ON -DTORVIX_SANITIZE=ON \
  "${cache[@]}"
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure --timeout 300)

FUZZ_JOBS="$jobs" FUZZ_PARALLEL="$jobs" scripts/fuzz.sh 30
bench/soak.sh --minutes 1 --build build

# The Windows zip and its tests under Wine; the first run on a machine builds Qt for Windows
# (about 25-50 minutes on two cores), later runs reuse it from the cache.
scripts/test-windows.sh
