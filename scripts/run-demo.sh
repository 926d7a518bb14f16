#!/usr/bin/env bash
# Builds torvix-tp and the simulated controller torvix-sim, then runs the program against the
# simulator from its own folder demo/ (own copy of the program, own тп.ini with COM1 = the
# simulator's pseudo-terminal). A тп.ini kept beside build/torvix-tp is never touched.
#
# With a display the window runs until you close it. Without one (or with --headless) it runs
# on Xvfb for a few seconds and saves a screenshot to demo/screenshot.png.
#
# Usage: scripts/run-demo.sh [--seconds N] [--headless] [--load-test] [--no-deps] [-- SIMULATOR OPTIONS]
#   --seconds N   how long the headless run lasts before the screenshot (default 5)
#   --headless    use Xvfb even when a display is there
#   --load-test   headless, with the set stopped: opens "Графики", starts a recording, presses
#                 СТАРТ, Нагрузка 1 and Нагрузка 0 with marks, and saves demo/companion.png;
#                 the recording stays in demo/записи (about 45 s)
#   --no-deps     do not run scripts/install-deps.sh
#   -- ...        passed to torvix-sim after its default --running, e.g. -- --drop-every 10
#                 (see build/torvix-sim --help for faults, delays and hang-ups)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=5
headless=0
deps=1
sim_options=(--running)
load_test=0
while (($#)); do
  case "$1" in
    --seconds)
      seconds=${2:-}
      [[ "$seconds" =~ ^[0-9]+$ ]] && ((seconds > 0)) || { echo "run-demo.sh: --seconds wants a whole number above 0" >&2; exit 2; }
      shift 2 ;;
    --headless) headless=1; shift ;;
    --load-test) load_test=1; headless=1; sim_options=(--load 120); shift ;;
    --no-deps) deps=0; shift ;;
    --) shift; sim_options+=("$@"); break ;;
    -h | --help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-demo.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then headless=1; fi

if ((deps)); then "$root/scripts/install-deps.sh"; fi
if [ -f "$root/build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$root/build" >/dev/null
else
  cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
fi
cmake --build "$root/build" --target torvix-tp torvix-sim

demo="$root/demo"
link="$demo/ttyTORVIX"
mkdir -p "$demo"
cp -f "$root/build/torvix-tp" "$demo/torvix-tp"
cat >"$demo/тп.ini" <<EOF
[PC config]
COM=1
COMSettings=115200,e,8,1
[QDL config]
MBSLAD=7
[Ports]
COM1=$link
EOF

sim_pid=""
session_group=""
cleanup() {
  # The headless session runs in its own process group: xvfb-run, Xvfb and the program.
  if [ -n "$session_group" ]; then
    kill -TERM -- "-$session_group" 2>/dev/null || true
    for _ in $(seq 20); do
      kill -0 -- "-$session_group" 2>/dev/null || break
      sleep 0.1
    done
  fi
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

: >"$demo/requests.log"
"$root/build/torvix-sim" --link "$link" --quiet --log-requests "$demo/requests.log" \
  "${sim_options[@]}" >"$demo/sim.out" 2>"$demo/sim.log" &
sim_pid=$!
for _ in $(seq 50); do
  [ -e "$link" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "run-demo.sh: torvix-sim did not start:" >&2; cat "$demo/sim.log" >&2; exit 1; }
  sleep 0.1
done
[ -e "$link" ] || { echo "run-demo.sh: torvix-sim made no $link" >&2; exit 1; }
echo "Simulated controller on $(head -n 1 "$demo/sim.out"), linked as $link"

if ((!headless)); then
  echo "Starting $demo/torvix-tp; close its window to end the demo."
  "$demo/torvix-tp" || true
  echo "Requests received by the simulator: $(wc -l <"$demo/requests.log")"
  exit 0
fi

shot="$demo/screenshot.png"
rm -f "$shot"
# Inside Xvfb: run the program, take the screen, crop it to the window (the screen around it is
# black), end the program. Exit 3 if the program did not survive the wait.
start_program='
  "$1/torvix-tp" >"$1/torvix-tp.log" 2>&1 &
  tp=$!
  trap "kill $tp 2>/dev/null; wait $tp" EXIT
'
session="$start_program"'
  sleep "$2"
  kill -0 "$tp" 2>/dev/null || exit 3
  import -window root png:- | convert png:- -bordercolor black -border 1 -trim +repage "$3"
'
if ((load_test)); then
  shot="$demo/companion.png"
  rm -f "$shot"
  # The operator's keys: Alt+Г opens the companion with the focus on "Начать запись", Alt+И
  # the span (End: the whole run), Alt+М the mark; the main window opens with the focus on
  # СТАРТ, and Нагрузка 1 and 0 are 11 and 10 Tabs from it.
  session="$start_program"'
    main=$(xdotool search --sync --onlyvisible --pid $tp | tail -n 1)
    xdotool windowfocus --sync $main
    xdotool key --delay 100 alt+Cyrillic_ghe
    sleep 1
    companion=$(xdotool search --sync --onlyvisible --name "Графики и запись" | tail -n 1)
    xdotool windowmove $companion 0 0 windowfocus --sync $companion
    xdotool key --delay 100 space alt+Cyrillic_i End
    mark() {
      xdotool windowfocus --sync $companion key alt+Cyrillic_em
      sleep 0.5
      xdotool type --delay 40 "$1"
      xdotool key Return
    }
    press() { xdotool windowfocus --sync $main key --delay 60 "$@"; }
    sleep 3; press space; sleep 9
    mark "наброс 100 %"; sleep 2; press Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space
    sleep 12; mark "сброс"; sleep 2; press shift+Tab space; sleep 10
    kill -0 "$tp" 2>/dev/null || exit 3
    import -window "$companion" "$3"
  '
fi
if ((load_test)); then
  echo "Load test: $demo/torvix-tp on Xvfb, about 45 s."
else
  echo "No display: running $demo/torvix-tp on Xvfb for $seconds s."
fi
setsid xvfb-run -a -f "$demo/Xauthority" -s "-screen 0 1280x1024x24" \
  bash -c "$session" session "$demo" "$seconds" "$shot" &
session_group=$!
status=0
wait "$session_group" || status=$?
if ((status == 3)); then
  echo "run-demo.sh: torvix-tp ended early; its output:" >&2
  cat "$demo/torvix-tp.log" >&2
  exit 1
fi
[ -s "$shot" ] || { echo "run-demo.sh: no screenshot was taken (exit status $status)" >&2; exit 1; }
echo "Requests received by the simulator: $(wc -l <"$demo/requests.log")"
echo "Screenshot: $shot"
if ((load_test)); then echo "Recording: $(ls -t "$demo/записи/"*.csv | head -n 1)"; fi
