#!/usr/bin/env bash
# Builds the Debian package (scripts/build-deb.sh: lintian, desktop-file-validate) and tests it
# installed into this machine with apt-get, against the simulator, on Xvfb
# (tests/package/run-tests.sh); then removes it. Needs root or sudo.
#
#   scripts/test-package.sh [--no-deps]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
deps=()
[ "${1:-}" = "--no-deps" ] && deps=(--no-deps)
start=$SECONDS

"$root/scripts/build-deb.sh" "${deps[@]}"
build_s=$((SECONDS - start))

# The controller on the Linux side, from the ordinary build.
sim="$root/build/torvix-sim"
if [ ! -x "$sim" ] || [ -n "$(find "$root/sim" "$root/src/link" -newer "$sim" -print -quit)" ]; then
  [ -f "$root/build/CMakeCache.txt" ] || cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  nice -n 10 cmake --build "$root/build" --target torvix-sim -j 2
fi

version="$(sed -n 's/^#define TORVIX_VERSION "\(.*\)"/\1/p' "$root/build-deb/generated/torvix_version.h")"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$root/tests/package/run-tests.sh" "$root/dist/torvix-tp_${version}_amd64.deb" "$sim"
echo "== package: build ${build_s} s, whole run $((SECONDS - start)) s"
