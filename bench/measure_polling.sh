#!/usr/bin/env bash
# Measures torvix-tp (on a private Xvfb), torvix-cli monitor --output and mbpoll, all at the same
# time, each polling its own simulated controller's 64 input registers every 100 ms: CPU (steady
# state, from the scheduler's counters of all threads), peak RSS, poll period, start-up time.
#
# Usage: bench/measure_polling.sh [--seconds N] [--build DIR] [--platform xcb|offscreen]
#                                 [--no-mbpoll] [--companion] [--line pty|tcp] [--keep]
#   --seconds N   steady-state measuring time (default 30, after 2 s warm-up)
#   --build DIR   build folder holding torvix-tp, torvix-cli, torvix-sim (default build); for figures
#                 worth quoting, configure it with -DCMAKE_BUILD_TYPE=Release or RelWithDebInfo
#   --platform    Qt platform of torvix-tp: xcb on Xvfb (default) or offscreen (no X server)
#   --no-mbpoll   skip the mbpoll comparison
#   --companion   also a second torvix-tp with "Графики" open (xcb only), for the difference
#   --line        what joins the torvix masters to their simulators: a pty (default) or loopback
#                 TCP, which hands bytes over at once where a pty may hold them back a few ms
#   --keep        keep the work folder with the request logs
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
probe_args=()
while (($#)); do
  case "$1" in
    --seconds) probe_args+=(--seconds "${2:?--seconds wants a number}"); shift 2 ;;
    --build) build=$(cd "${2:?--build wants a folder}" && pwd); shift 2 ;;
    --platform) probe_args+=(--platform "${2:?--platform wants xcb or offscreen}"); shift 2 ;;
    --line) probe_args+=(--line "${2:?--line wants pty or tcp}"); shift 2 ;;
    --no-mbpoll | --companion | --keep) probe_args+=("$1"); shift ;;
    -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "measure_polling.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

for tool in Xvfb xdotool mbpoll /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "measure_polling.sh: $tool is missing; run scripts/install-deps.sh" >&2; exit 1; }
done
[ -f "$build/CMakeCache.txt" ] || { echo "measure_polling.sh: $build is not a configured build folder" >&2; exit 1; }
cmake --build "$build" --target torvix-tp torvix-cli torvix-sim >/dev/null

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "Machine:   $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, $(free -m | awk '/^Mem:/ {print $2}') MiB memory"
echo "Kernel:    $(uname -sr)"
echo "Qt:        $(dpkg-query -W -f='${Version}' libqt6core6 2>/dev/null || echo unknown)"
echo "Compiler:  $("$compiler" --version | head -n 1)"
echo "Build:     $build (CMAKE_BUILD_TYPE=${build_type:-none})"
echo "mbpoll:    $(dpkg-query -W -f='${Version}' mbpoll 2>/dev/null || echo unknown)"
echo "Commit:    $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)$(git -C "$root" diff --quiet HEAD 2>/dev/null || echo ' (with local changes)')"
echo "Load avg:  $(cut -d' ' -f1-3 /proc/loadavg) (before)"
case "$build_type" in
  Release | RelWithDebInfo) ;;
  *) echo "Note: not an optimised build; the CPU figure will be higher than a release build's." ;;
esac

# The probe stops everything it started; an interrupt here is passed on so that it can.
status=0
/usr/bin/python3 "$root/bench/polling_probe.py" --tp "$build/torvix-tp" --cli "$build/torvix-cli" \
  --sim "$build/torvix-sim" \
  "${probe_args[@]}" &
probe=$!
trap 'kill -TERM "$probe" 2>/dev/null || true' INT TERM
while kill -0 "$probe" 2>/dev/null; do
  status=0
  wait "$probe" || status=$?
done
trap - INT TERM
echo "Load avg:  $(cut -d' ' -f1-3 /proc/loadavg) (after)"
exit "$status"
