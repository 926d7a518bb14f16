#!/usr/bin/env bash
# The Debian package as a user gets it: installed with apt-get into this machine, its programs
# run from /usr/bin against the simulator (the window on an X display, which
# scripts/test-package.sh starts), then removed. Needs root or sudo; the package must not be
# installed already, since the test removes it at the end.
#   run-tests.sh DEB LINUX_SIM
set -uo pipefail
deb="$(realpath "$1")"
sim="$(realpath "$2")"

# shellcheck source=../support/checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../support/checks.sh"
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
finish() {
  report package
  exit $?
}
[ -n "${DISPLAY:-}" ] || { fail "no X display"; finish; }

work="$(mktemp -d)"
version="$(dpkg-deb -f "$deb" Version)"

# ---- what the package holds and needs, before anything is installed
has_files() {
  local listing missing=0 path
  listing="$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\.||')"
  for path in /usr/bin/torvix-tp /usr/bin/torvix-cli /usr/bin/torvix-report \
              /usr/share/applications/torvix-tp.desktop \
              /usr/share/icons/hicolor/scalable/apps/torvix-tp.svg \
              /usr/share/doc/torvix-tp/README.md /usr/share/doc/torvix-tp/copyright \
              /usr/share/doc/torvix-tp/changelog.gz /usr/share/man/man1/torvix-cli.1.gz \
              /usr/share/man/man1/torvix-tp.1.gz /usr/share/man/man1/torvix-report.1.gz; do
    grep -qx "$path" <<<"$listing" || { echo "not in the package: $path"; missing=1; }
  done
  return $missing
}
check "the package holds the programs, the menu entry and icon, the docs and the man pages" has_files
depends_on_debian_qt() {
  local depends
  depends="$(dpkg-deb -f "$deb" Depends)"
  echo "Depends: $depends"
  [[ "$depends" == *libqt6widgets6* && "$depends" == *libqt6serialport6* &&
     "$depends" == *libqcustomplot2.1-qt6* && "$depends" == *qt6-qpa-plugins* ]]
}
check "it depends on Debian's Qt 6, its X11 plugin and QCustomPlot" depends_on_debian_qt
copyright_names_gpl3() {
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/torvix-tp/copyright >"$work/copyright" &&
    grep -q '^License: GPL-3.0-or-later$' "$work/copyright" &&
    [ "$(wc -l <"$work/copyright")" -lt 40 ]
}
check "copyright names GPL-3.0-or-later without the licence's full text" copyright_names_gpl3
man_page_from_help() {
  dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/man/man1/torvix-cli.1.gz | gzip -d >"$work/torvix-cli.1" &&
    grep -q '^\.TH TORVIX-CLI "1"' "$work/torvix-cli.1" &&
    grep -q 'monitor' "$work/torvix-cli.1" && grep -q 'analyze' "$work/torvix-cli.1" &&
    man -l "$work/torvix-cli.1" >/dev/null 2>&1
}
check "the man page of torvix-cli is made from its --help and reads" man_page_from_help

if dpkg-query -W -f='${Status}' torvix-tp 2>/dev/null | grep -q 'install ok installed'; then
  fail "torvix-tp is installed already; remove it first (apt-get remove torvix-tp)"
  finish
fi
t=$SECONDS
if as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/install.log" 2>&1; then
  pass "apt-get install ./$(basename "$deb") ($((SECONDS - t)) s)"
else
  fail "apt-get install ./$(basename "$deb")"; cat "$work/install.log"; finish
fi

# A user of this machine who never ran the tool: a home of their own.
user_home="$work/home"
mkdir -p "$user_home"
user_data="$user_home/.local/share/torvix"
as_user() { env -u XDG_DATA_HOME HOME="$user_home" "$@"; }

sim_pid=""
line="$work/line"
start_sim() {
  sim_log="$work/sim.requests"
  "$sim" --no-noise --quiet --link "$line" --state-file "$work/sim.json" --log-requests "$sim_log" \
    >"$work/sim.out" 2>&1 &
  sim_pid=$!
  local i
  for i in $(seq 100); do [ -e "$line" ] && [ -f "$work/sim.json" ] && return 0; sleep 0.1; done
  cat "$work/sim.out"; return 1
}
program_pid=""
stop_program() {
  if [ -n "$program_pid" ]; then kill "$program_pid" 2>/dev/null; wait "$program_pid" 2>/dev/null; fi
  program_pid=""
}
cleanup() {
  stop_program
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT

check "torvix-cli --version from /usr/bin names $version" \
  bash -c '[[ "$(/usr/bin/torvix-cli --version)" == "torvix-cli $1" ]]' _ "$version"

# ---- the window, first start: тп.ini appears in the user's data folder, not beside the program
first_start_writes_at_home() {
  (cd "$work" && exec env -u XDG_DATA_HOME HOME="$user_home" /usr/bin/torvix-tp >"$work/first.out" 2>&1) &
  program_pid=$!
  local i
  for i in $(seq 150); do [ -f "$user_data/тп.ini" ] && break; sleep 0.1; done
  stop_program
  [ -f "$user_data/тп.ini" ] && grep -q '^COM=1' "$user_data/тп.ini" &&
    [ ! -e /usr/bin/тп.ini ] && [ ! -e "$work/тп.ini" ]
}
check "the installed window's first start writes тп.ini into ~/.local/share/torvix" first_start_writes_at_home

if start_sim; then
  # The user names the simulator's line for COM1 in that тп.ini.
  printf '[PC config]\nCOM=1\nCOMSettings=115200,n,8,1\n[QDL config]\nMBSLAD=7\n[Ports]\nCOM1=%s\n' \
    "$line" >"$user_data/тп.ini"
  cli_read_from_home() {
    local out
    out="$(cd "$work" && as_user /usr/bin/torvix-cli read)" && [[ "$out" == *Частота* ]]
  }
  check "torvix-cli read from /usr/bin reaches the simulator through the port in ~/.local/share/torvix/тп.ini" \
    cli_read_from_home
  : >"$sim_log"
  window_polls() {
    (cd "$work" && exec env -u XDG_DATA_HOME HOME="$user_home" /usr/bin/torvix-tp >"$work/window.out" 2>&1) &
    program_pid=$!
    local i id=""
    for i in $(seq 200); do
      id="$(xdotool search --onlyvisible --name 'Modbus' 2>/dev/null | head -1)"
      [ -n "$id" ] && break
      sleep 0.1
    done
    [ -n "$id" ] || { echo "no window"; cat "$work/window.out"; return 1; }
    sleep 3
    local reads
    reads="$(grep -c '^[0-9]* 07 04 01 2C' "$sim_log")"
    echo "$reads status reads in 3 s"
    [ "$reads" -ge 10 ]
  }
  check "the installed window polls the simulator named in the per-user тп.ini" window_polls
  stop_program
else
  fail "the simulator did not start"
fi

t=$SECONDS
if as_root env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y -qq torvix-tp >"$work/remove.log" 2>&1; then
  pass "apt-get remove --purge torvix-tp ($((SECONDS - t)) s)"
else
  fail "apt-get remove --purge torvix-tp"; cat "$work/remove.log"
fi
removed_cleanly() {
  local left
  # тп.ini or записи beside the programs would be a packaged build that writes into /usr/bin.
  left="$(ls -d /usr/bin/torvix-tp /usr/bin/torvix-cli /usr/bin/torvix-report /usr/share/doc/torvix-tp \
    /usr/share/applications/torvix-tp.desktop /usr/share/man/man1/torvix-cli.1.gz \
    /usr/bin/тп.ini /usr/bin/записи 2>/dev/null)"
  [ -z "$left" ] || { echo "left behind: $left"; return 1; }
  # Purged, dpkg has no record of it; anything else begins with another letter than "u".
  local status
  status="$(dpkg-query -W -f='${db:Status-Abbrev}' torvix-tp 2>/dev/null)"
  [[ -z "$status" || "$status" == un* ]]
}
check "nothing of the package is left, and dpkg knows it no more" removed_cleanly
check "the user's тп.ini stays in the home folder" test -f "$user_data/тп.ini"
finish
