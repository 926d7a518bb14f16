#!/usr/bin/env bash
# Times the whole protocol test without --fuzz (torvix-cli conformance) at 115200 baud against
# the simulator with --pace, which answers when request and reply would have crossed a real line
# at that speed plus a 2 ms turnaround. Prints the seconds of each run and the check results.
# With --fuzz it runs the whole suite once with the fuzzer that long instead, and fails unless
# every check passed (every health check answered) and the simulator's state shows no command
# and 401/402 untouched: the soak phase of scripts/test-all.sh.
#
# Usage: bench/conformance_suite.sh [--runs N] [--fuzz DURATION] [--build DIR]
#   --runs N          how many runs (default 3)
#   --fuzz DURATION   one run with --fuzz DURATION (60s) and its checks
#   --build DIR       build folder holding torvix-cli and torvix-sim (default build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
runs=3
fuzz=
while (($#)); do
  case "$1" in
    --runs) runs=${2:?--runs wants a number}; shift 2 ;;
    --fuzz) fuzz=${2:?--fuzz wants a duration such as 60s}; shift 2 ;;
    --build) build=$(cd "${2:?--build wants a folder}" && pwd); shift 2 ;;
    -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "conformance_suite.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
cmake --build "$build" --target torvix-cli torvix-sim >/dev/null

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/torvix-sim" --pace --settings 115200,e,8,1 --quiet --no-noise --link "$work/line" \
  --state-file "$work/state.json" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/line" ] && break; sleep 0.05; done

if [ -n "$fuzz" ]; then
  code=0
  "$build/torvix-cli" conformance --port "$work/line" --settings 115200,e,8,1 --fuzz "$fuzz" \
    --format json >"$work/run.json" || code=$?
  python3 - "$work/run.json" "$work/state.json" "$code" <<'PY'
import json, sys
run = json.load(open(sys.argv[1]))
state = json.load(open(sys.argv[2]))
results = {c["id"]: c["result"] for c in run["checks"]}
robustness = next(c for c in run["checks"] if c["id"] == "robustness")
print("conformance --fuzz:", robustness["observed"], "| summary", run["summary"])
# A warn is the suite's own verdict for what the standard only recommends (split-frame: on a
# loaded machine the simulator may read both halves at once); it does not fail the run.
problems = [f"{id}: {r}" for id, r in results.items() if r not in ("pass", "warn")]
if sys.argv[3] != "0":
    problems.append(f"exit {sys.argv[3]}")
if state["commands"]:
    problems.append(f"commands written: {state['commands']}")
if state["holding_registers"]["401"] or state["holding_registers"]["402"]:
    problems.append(f"401/402 written: {state['holding_registers']}")
if problems:
    sys.exit("conformance --fuzz: " + "; ".join(problems))
print("conformance --fuzz: every health check answered, no command, 401/402 untouched")
PY
  exit 0
fi
echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1); load $(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$runs"); do
  start=$(date +%s.%N)
  code=0
  "$build/torvix-cli" conformance --port "$work/line" --settings 115200,e,8,1 >"$work/run.txt" || code=$?
  end=$(date +%s.%N)
  printf 'run %d: %.2f s, exit %d, %s\n' "$run" "$(echo "$end - $start" | bc)" "$code" \
    "$(grep -E '^address' "$work/run.txt")"
  grep -E '^turnaround' "$work/run.txt" || true
done
