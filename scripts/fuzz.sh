#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang, ASan and UBSan into build-fuzz/ and runs
# each for SECONDS (default 60), one after another or FUZZ_PARALLEL at a time, from the seeds
# in fuzz/corpus/. Prints per target: seconds run, executions, executions per second and
# coverage (cov: edges, ft: features). Exits 1 after the batch with a finding; the input that
# broke a property or crashed is kept in build-fuzz/findings/ and the log beside it.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#   TARGET: poll_tick, ini_profile, line_settings, sim_frames, recording (default: all)
#   FUZZ_JOBS=N      build jobs (default: the number of cores)
#   FUZZ_PARALLEL=N  targets run at the same time (default 1; CI gives one per core)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[[ "$seconds" =~ ^[0-9]+$ ]] && ((seconds > 0)) || { echo "fuzz.sh: SECONDS wants a whole number above 0" >&2; exit 2; }
shift || true
targets=("$@")
((${#targets[@]})) || targets=(poll_tick ini_profile line_settings sim_frames recording)

build="$root/build-fuzz"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTORVIX_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-$(nproc)}" --target "${targets[@]/#/fuzz_}"

mkdir -p "$build/findings" "$build/logs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
# One target's run; its exit status is the fuzzer's.
run() {
  local target=$1 corpus="$build/corpus/$1" log="$build/logs/$1.log"
  mkdir -p "$corpus"  # grows here; the committed seeds stay small
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$build/findings/$target-" "$corpus" "$root/fuzz/corpus/$target" \
    >"$log" 2>&1
}

# Seconds, executions, executions per second, cov and ft from a finished run's log.
report() {
  local target=$1 elapsed=$2 log="$build/logs/$1.log"
  local runs rate cov ft
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2 || true)
  printf '%-14s %8s %12s %9s %7s %7s\n' "$target" "$elapsed" "${runs:--}" "${rate:--}" "${cov:--}" "${ft:--}"
}

parallel=${FUZZ_PARALLEL:-1}
printf '%-14s %8s %12s %9s %7s %7s\n' target seconds executions exec/s cov ft
failed=()
for ((i = 0; i < ${#targets[@]}; i += parallel)); do
  batch=("${targets[@]:i:parallel}")
  pids=()
  start=$(date +%s)
  for target in "${batch[@]}"; do
    run "$target" &
    pids+=($!)
  done
  for j in "${!batch[@]}"; do
    status=0
    wait "${pids[j]}" || status=$?
    report "${batch[j]}" "$(($(date +%s) - start))"
    ((status == 0)) || failed+=("${batch[j]}")
  done
  ((${#failed[@]} == 0)) || break
done
for target in "${failed[@]}"; do
  log="$build/logs/$target.log"
  echo "fuzz.sh: $target found a fault; log: $log" >&2
  grep -E 'property violated|ERROR: |runtime error|Test unit written' "$log" >&2 || tail -n 20 "$log" >&2
done
((${#failed[@]} == 0))
