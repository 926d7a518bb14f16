#!/usr/bin/env bash
# Checks the formatting, builds everything with warnings as errors and runs every test, then
# repeats the tests in an AddressSanitizer + UndefinedBehaviorSanitizer build. Then each fuzz
# target runs for 30 s (clang, ASan + UBSan), the program soaks for a minute against the
# simulator with every fault, the Debian package is built, installed and tested, and the Windows
# zip and installer are built and tested under Wine. A finding, a failed check or a file
# clang-format would change fails the run.
#
#   scripts/test-all.sh [--only PHASE[,PHASE...]] [--no-deps]
#     PHASE: format, build, asan, fuzz, soak, package, windows (default: all, in that order)
#     --no-deps  skip the package check (for a developer rerunning the part they touched)
set -euo pipefail
cd "$(dirname "$0")/.."

phases=(format build asan fuzz soak package windows)
only=""
deps=1
while (($#)); do
  case "$1" in
    --only) only=${2:-}; shift 2 ;;
    --only=*) only=${1#--only=}; shift ;;
    --no-deps) deps=0; shift ;;
    -h | --help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test-all.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [ -n "$only" ]; then
  IFS=, read -ra wanted <<<"$only"
  for phase in "${wanted[@]}"; do
    [[ " ${phases[*]} " == *" $phase "* ]] ||
      { echo "test-all.sh: no phase '$phase'; phases: ${phases[*]}" >&2; exit 2; }
  done
else
  wanted=("${phases[@]}")
fi
runs() { [[ " ${wanted[*]} " == *" $1 "* ]]; }

((deps)) && scripts/install-deps.sh
jobs=$(nproc)

# CI builds a fresh clone in another folder each time: paths relative to the clone let ccache
# reuse what an earlier run compiled. The cache is this project's own: with paths made relative,
# a cache shared with other checkouts alive beside this one (a developer's worktrees) handed out
# objects compiled from their headers.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true
export CCACHE_DIR="${TORVIX_CCACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/torvix-ccache}"
cache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

if runs format; then
  # First and fast: a misformatted file fails before anything is compiled.
  mapfile -t sources < <(git ls-files '*.cpp' '*.h')
  unformatted=()
  for file in "${sources[@]}"; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
  done
  if ((${#unformatted[@]})); then
    echo "test-all.sh: clang-format would change ${#unformatted[@]} file(s):" >&2
    printf '  %s\n' "${unformatted[@]}" >&2
    echo "Run: clang-format -i ${unformatted[*]}" >&2
    exit 1
  fi
  echo "== format: ${#sources[@]} files as .clang-format has them"
fi

if runs build || runs soak; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVIX_WERROR=ON "${cache[@]}"
  cmake --build build -j "$jobs"
fi
if runs build; then
  (cd build && ctest --output-on-failure --timeout 300)
fi

if runs asan; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTORVIX_WERROR=ON -DTORVIX_SANITIZE=ON \
    "${cache[@]}"
  cmake --build build-asan -j "$jobs"
  (cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure --timeout 300)
fi

if runs fuzz; then
  FUZZ_JOBS="$jobs" FUZZ_PARALLEL="$jobs" scripts/fuzz.sh 30
fi
if runs soak; then
  bench/soak.sh --minutes 1 --build build
  # The protocol test's fuzzer for a minute against the simulator: every health check answered.
  bench/conformance_suite.sh --fuzz 60s --build build
fi

# The Debian package, installed into this machine with apt-get and removed again.
if runs package; then
  if ((deps)); then scripts/test-package.sh; else scripts/test-package.sh --no-deps; fi
fi

# The Windows zip and installer and their tests under Wine; the first run on a machine builds Qt for Windows
# (about 25-50 minutes on two cores), later runs reuse it from the cache.
if runs windows; then
  if ((deps)); then scripts/test-windows.sh; else scripts/test-windows.sh --no-deps; fi
fi
