#!/usr/bin/env bash
# Runs torvix-tp on Xvfb against torvix-sim with every fault and a hang-up every minute for N
# minutes, clicking commands, and checks memory, descriptors, CPU while the line is down,
# recovery after each hang-up and that every command clicked was executed (see bench/soak.py).
#
# Usage: bench/soak.sh [--minutes N] [--build DIR] [--keep]
#   --minutes N   length of the run (default 30; CI runs 1)
#   --build DIR   where torvix-tp and torvix-sim are built (default build/)
#   --keep        keep the work folder with the program's log
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=30
build="$root/build"
extra=()
while (($#)); do
  case "$1" in
    --minutes) minutes=${2:-}; shift 2 ;;
    --build) build=${2:-}; shift 2 ;;
    --keep) extra+=(--keep); shift ;;
    -h | --help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
[[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "soak.sh: --minutes wants a number" >&2; exit 2; }
for tool in Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "soak.sh: $tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
done
if [ -f "$build/CMakeCache.txt" ]; then
  cmake --build "$build" --target torvix-tp torvix-sim >/dev/null
fi
[ -x "$build/torvix-tp" ] && [ -x "$build/torvix-sim" ] || { echo "soak.sh: build torvix-tp and torvix-sim into $build first" >&2; exit 2; }
echo "soak: $minutes min on $(uname -n), $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
exec python3 "$root/bench/soak.py" --minutes "$minutes" --build "$build" "${extra[@]}"
