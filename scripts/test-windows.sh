#!/usr/bin/env bash
# Builds the Windows zip and installer (scripts/build-windows.sh) and runs every Windows test
# under Wine on Xvfb: the cross-built unit tests, then the end-to-end checks against the Linux
# simulator and the installer's (tests/wine/run-tests.sh). A missing part fails; nothing is
# skipped.
#
#   scripts/test-windows.sh [--no-deps]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build-windows"
deps=()
[ "${1:-}" = "--no-deps" ] && deps=(--no-deps)
start=$SECONDS

"$root/scripts/build-windows.sh" "${deps[@]}" --build-dir "$build_dir"
build_s=$((SECONDS - start))

# Wine takes the Windows locale and ANSI code page from the Linux one: Russian, as on the
# operators' machines (decimal comma, code page 1251).
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  echo "== Generating the locale ru_RU.UTF-8"
  if [ "$(id -u)" -eq 0 ]; then localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
  else sudo localedef -i ru_RU -f UTF-8 ru_RU.UTF-8; fi
fi

# The controller on the Linux side.
sim="$root/build/torvix-sim"
if [ ! -x "$sim" ] || [ -n "$(find "$root/sim" "$root/src/link" -newer "$sim" -print -quit)" ]; then
  [ -f "$root/build/CMakeCache.txt" ] || cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  nice -n 10 cmake --build "$root/build" --target torvix-sim -j 2
fi

zip="$(ls -t "$root"/dist/torvix-tp-*-windows-x64.zip | head -1)"
setup="${zip%.zip}-setup.exe"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$root/tests/wine/run-tests.sh" "$build_dir" "$zip" "$sim" "$setup"
echo "== Windows: build ${build_s} s, whole run $((SECONDS - start)) s"
