#!/usr/bin/env bash
# Every Windows test under Wine; run on an X display (scripts/test-windows.sh starts Xvfb).
#   run-tests.sh BUILD_DIR ZIP LINUX_SIM SETUP_EXE
# 1. the unit tests of the cross-build (ctest, each executable once under Wine);
# 2. the program built for Windows, in-process, against the simulator on a pty mapped as COM1;
# 3. the shipped torvix-tp.exe, unpacked from the zip into a folder with a Cyrillic name:
#    its window, the requests on the line, a click on СТАРТ, the box for a missing port;
# 4. the same torvix-tp.exe and torvix-cli.exe over TCP, the simulator as a device server;
# 5. the installer in a fresh prefix (installer-tests.sh).
set -uo pipefail
build_dir="$(realpath "$1")"
zip="$(realpath "$2")"
sim="$(realpath "$3")"
setup="$(realpath "$4")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=/dev/null
source "$build_dir/wine-env.sh"
export LC_ALL=ru_RU.UTF-8

# shellcheck source=../support/checks.sh
source "$here/../support/checks.sh"
finish() {
  wineserver -k >/dev/null 2>&1
  report wine
  exit $?
}
[ -n "${DISPLAY:-}" ] || { fail "no X display"; finish; }

work="$build_dir/wine-work"
rm -rf "$work"
mkdir -p "$work"
line="$work/line"

# A private prefix, made once per Wine version; without Mono and Gecko it takes seconds.
wine_version="$(wine --version)"
if [ "$(cat "$WINEPREFIX/.torvix-ready" 2>/dev/null)" != "$wine_version" ]; then
  echo "== Making the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  t=$SECONDS
  WINEARCH=win64 wineboot -i >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  echo "$wine_version" >"$WINEPREFIX/.torvix-ready"
  echo "== Wine prefix made in $((SECONDS - t)) s"
fi
# COM1 is the simulator's line; every other number stays missing, so that no test opens the
# machine's own /dev/ttyS* (whose open can hang) and COM2 is a port that does not exist.
wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$line" /f >/dev/null 2>&1
for n in $(seq 2 16); do
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d '' /f >/dev/null 2>&1
done
wineserver -k >/dev/null 2>&1; wineserver -w
# One server for all runs: each start of a program is then much cheaper.
wineserver -p >/dev/null 2>&1
# The first program starts Wine's own services, which keep the standard output they inherit
# open: started here, they hold /dev/null rather than ctest's pipe, which would never close.
wine cmd.exe /c exit >/dev/null 2>&1

# ---- 1. unit tests
t=$SECONDS
(cd "$build_dir" && ctest --output-on-failure --timeout 300 -L unit) && pass "unit tests under Wine" \
  || fail "unit tests under Wine"
echo "== unit tests under Wine: $((SECONDS - t)) s"

# ---- the simulator on a pty behind $line
sim_pid=""
start_sim() {  # start_sim NAME [OPTIONS...]
  local name="$1"; shift
  stop_sim
  sim_state="$work/$name.json"
  sim_log="$work/$name.requests"
  "$sim" --no-noise --quiet --link "$line" --state-file "$sim_state" --log-requests "$sim_log" "$@" \
    >"$work/$name.out" 2>&1 &
  sim_pid=$!
  local i
  for i in $(seq 100); do [ -e "$line" ] && [ -f "$sim_state" ] && return 0; sleep 0.1; done
  echo "the simulator did not come up:"; cat "$work/$name.out"
  return 1
}
# The simulator as a serial device server on loopback; sets tcp_address.
start_tcp_sim() {  # start_tcp_sim NAME [OPTIONS...]
  local name="$1"; shift
  stop_sim
  sim_state="$work/$name.json"
  sim_log="$work/$name.requests"
  "$sim" --no-noise --quiet --tcp-listen 127.0.0.1:0 --state-file "$sim_state" \
    --log-requests "$sim_log" "$@" >"$work/$name.out" 2>&1 &
  sim_pid=$!
  local i
  for i in $(seq 100); do
    tcp_address="$(head -1 "$work/$name.out" 2>/dev/null)"
    [[ "$tcp_address" == tcp://* ]] && [ -f "$sim_state" ] && return 0
    sleep 0.1
  done
  echo "the simulator did not come up:"; cat "$work/$name.out"
  return 1
}
stop_sim() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  sim_pid=""
}
program_pid=""
stop_program() {
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null; wait "$program_pid" 2>/dev/null; fi
  program_pid=""
}
trap 'stop_program; stop_sim; wineserver -k >/dev/null 2>&1' EXIT

# ---- 2. the program in-process, its captions read from the widgets
e2e_program="$(find "$build_dir" -name wine_e2e_tests.exe -not -path '*/package/*' | head -1)"
e2e() {  # e2e GTEST_FILTER
  [ -n "$e2e_program" ] || { echo "no wine_e2e_tests.exe in $build_dir"; return 1; }
  TORVIX_SIM_STATE="$(winepath -w "$sim_state")" timeout 180 wine "$e2e_program" --gtest_filter="$1"
}
if start_sim status; then
  check "status block reaches the window, a clicked СТАРТ reaches the controller" \
    e2e 'ProgramOnCom1.StatusBlockReachesTheCaptionsAndAClickedStartReachesTheController'
  check "the port dialog lists COM1 alone, and polling goes on after it" \
    e2e 'ProgramOnCom1.PortDialogListsTheOnePortThereIsAndPollingGoesOnAfterIt'
  check "Графики opens from the menu and records a clicked СТАРТ" \
    e2e 'ProgramOnCom1.TheCompanionOpensAndRecordsAClickedStart'
  check "Поиск контроллера opens from the menu and finds the controller on COM1" \
    e2e 'ProgramOnCom1.TheScanWindowOpensFromTheMenuAndFindsTheController'
else fail "simulator for the window test"; fi
if start_sim hangup --hangup-after 3 --hangup-for 1.5; then
  check "polling resumes after the line hangs up" e2e 'ProgramOnCom1.PollingResumesByItselfWhenTheLineComesBack'
else fail "simulator for the hang-up test"; fi
stop_sim

# ---- 3. the shipped program from the zip
folder="$work/Пульт оператора"
mkdir -p "$folder"
(cd "$folder" && python3 -m zipfile -e "$zip" .)
program_dir="$(ls -d "$folder"/torvix-tp-*)"
write_ini() {
  printf '[PC config]\r\nCOM=%s\r\nCOMSettings=115200,n,8,1\r\n[QDL config]\r\nMBSLAD=7\r\n' "$1" \
    >"$program_dir/тп.ini"
}
run_program() {
  (cd "$program_dir" && exec wine ./torvix-tp.exe >"$work/program.out" 2>&1) &
  program_pid=$!
}
# The id of the first window whose title matches, within 20 s.
wait_window() {
  local i id
  for i in $(seq 200); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
screenshot() {  # screenshot WINDOW FILE
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2"
}

# Status reads and counter writes in turn, one request per 100 ms tick.
polls_every_100ms() {
  python3 - "$1" <<'PY'
import statistics, sys
frames = [line.split() for line in open(sys.argv[1]) if line.strip()]
kinds = []
for f in frames:
    head = " ".join(f[1:5])
    kinds.append((int(f[0]), "read" if head == "07 04 01 2C" else "write" if head == "07 06 01 90" else "other"))
reads = sum(k == "read" for _, k in kinds)
writes = sum(k == "write" for _, k in kinds)
gaps = [(b[0] - a[0]) / 1000 for a, b in zip(kinds, kinds[1:])]
turns = sum(a[1] != b[1] for a, b in zip(kinds, kinds[1:]))
median = statistics.median(gaps) if gaps else 0
print(f"{reads} status reads, {writes} counter writes, median gap {median:.1f} ms, "
      f"{turns} of {len(gaps)} neighbours alternate")
ok = reads >= 15 and writes >= 15 and 90 <= median <= 115 and turns >= 0.9 * len(gaps)
sys.exit(0 if ok else 1)
PY
}

# The focus starts on СТАРТ: Space presses it, through the X server as a user's key would.
press_start() {  # press_start WINDOW
  xdotool windowfocus "$1" 2>/dev/null
  sleep 0.5
  xdotool key --window "$1" space
}

sim_received_start() {
  local i
  for i in $(seq 100); do
    python3 -c 'import json,sys; s=json.load(open(sys.argv[1])); sys.exit(0 if 0x1231 in s["commands"] and s["running"] else 1)' \
      "$sim_state" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

if start_sim shipped; then
  write_ini 1
  : >"$sim_log"
  run_program
  if window="$(wait_window 'Modbus')"; then
    pass "torvix-tp.exe from \"$(basename "$folder")\" opens its window"
    sleep 6
    screenshot "$window" "$build_dir/windows_window.png" && echo "screenshot: $build_dir/windows_window.png"
    check "the line carries status reads and counter writes every 100 ms" polls_every_100ms "$sim_log"
    press_start "$window"
    check "СТАРТ pressed in the window reaches the controller" sim_received_start
    # For the picture: the load on (Нагрузка "1" at its place in the window), so that the
    # trends show the set's dip and recovery.
    sleep 2
    xdotool mousemove --window "$window" 884 223 click 1
    sleep 2
    # Alt alone enters the menu bar, as on Windows; Right goes to "Графики".
    xdotool key --window "$window" --delay 200 alt Right Return
    if companion="$(wait_window 'Графики и запись')"; then
      pass "Графики from the menu of torvix-tp.exe opens its window"
      # Alt+И: the interval, Home: its shortest, one minute.
      xdotool key --window "$companion" --delay 200 alt+Cyrillic_i Home
      sleep 6
      screenshot "$companion" "$build_dir/windows_companion.png" && echo "screenshot: $build_dir/windows_companion.png"
    else
      fail "Графики from the menu of torvix-tp.exe opens its window"; cat "$work/program.out"
    fi
  else
    fail "torvix-tp.exe opens its window"; cat "$work/program.out"
  fi
  stop_program
  # The command-line program from the same zip, on the same line.
  cli() { timeout 60 wine "$program_dir/torvix-cli.exe" --port 1 --settings 115200,n,8,1 "$@"; }
  cli_version() { [[ "$(timeout 60 wine "$program_dir/torvix-cli.exe" --version)" =~ ^torvix-cli\ [0-9]+\.[0-9]+\.[0-9]+ ]]; }
  cli_read() { local out; out="$(cli read)" && [[ "$out" == *Частота* ]]; }
  sim_stopped() {
    python3 -c 'import json,sys; s=json.load(open(sys.argv[1])); sys.exit(0 if 0x4562 in s["commands"] and not s["running"] else 1)' "$sim_state"
  }
  # A load step in a record: 20 s at 20 records a second, the load on at 5 s.
  cli_analyze() {
    python3 - "$work/load.csv" <<'PY'
import math, sys
with open(sys.argv[1], "w") as out:
    out.write("time,gen_u_a_v,gen_u_b_v,gen_u_c_v,gen_f_hz,active_power_kw,events\n")
    for i in range(400):
        t = i / 20
        d = math.exp(-(t - 5)) * math.sin(2 * (t - 5)) if t >= 5 else 0
        event = "[5.0 s] send load on: выполнено" if i == 100 else ""
        out.write("2026-12-08T07:30:%06.3f+03:00,%.1f,%.1f,%.1f,%.2f,%.1f,%s\n" % (
            t, 230 * (1 - 0.1 * d), 230 * (1 - 0.1 * d), 230 * (1 - 0.1 * d), 50 * (1 - 0.05 * d),
            100 if t >= 5 else 0, event))
PY
    (cd "$work" && timeout 120 wine "$program_dir/torvix-cli.exe" analyze load.csv --report report.html \
       --plot plot.png >analyze.out 2>&1) || { cat "$work/analyze.out"; return 1; }
    grep -q 'Класс испытания' "$work/analyze.out" && [ "$(grep -o 'data:image/png' "$work/report.html" | wc -l)" -eq 2 ] \
      && [ "$(head -c 4 "$work/plot.png" | tail -c 3)" = PNG ]
  }
  if [ -f "$program_dir/torvix-cli.exe" ]; then
    check "torvix-cli.exe --version names the project version" cli_version
    check "torvix-cli.exe read prints the status block" cli_read
    check "torvix-cli.exe send stop is answered" cli send stop
    check "the controller received СТОП from torvix-cli.exe and stopped" sim_stopped
    check "torvix-cli.exe analyze writes the report and the plot through torvix-report.exe (QCustomPlot in the zip)" cli_analyze
  else
    fail "torvix-cli.exe is in the zip"
  fi
else fail "simulator for the shipped program"; fi
stop_sim

# ---- 4. over TCP: COM1 stands for the Linux simulator as a device server on 127.0.0.1
if start_tcp_sim tcp; then
  write_ini 1
  printf '[Ports]\r\nCOM1=%s\r\n' "$tcp_address" >>"$program_dir/тп.ini"
  : >"$sim_log"
  run_program
  if window="$(wait_window 'Modbus')"; then
    pass "torvix-tp.exe opens its window with COM1=$tcp_address"
    sleep 6
    check "over TCP the line carries status reads and counter writes every 100 ms" \
      polls_every_100ms "$sim_log"
    press_start "$window"
    check "СТАРТ pressed in the window reaches the controller over TCP" sim_received_start
  else
    fail "torvix-tp.exe opens its window over TCP"; cat "$work/program.out"
  fi
  stop_program
  cli_tcp_read() {
    local out
    out="$(timeout 60 wine "$program_dir/torvix-cli.exe" read --port "$tcp_address")" &&
      [[ "$out" == *Частота* ]]
  }
  check "torvix-cli.exe read --port $tcp_address prints the status block" cli_tcp_read
else fail "simulator as a device server"; fi
stop_sim

# COM2 exists in no form in the prefix: the start-up offers another port and names the error.
write_ini 2
run_program
if box="$(wait_window 'Ошибка открытия порта')"; then
  pass "the start-up box appears for the missing COM2"
  screenshot "$box" "$build_dir/windows_missing_port.png"
else
  fail "the start-up box for the missing COM2"; cat "$work/program.out"
fi
stop_program

# ---- 5. the installer
# shellcheck source=installer-tests.sh
source "$here/installer-tests.sh"
installer_tests "$setup" "$zip"
finish
