#!/usr/bin/env bash
# Runs a Windows program of a cross-build under Wine: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
# (ctest's emulator). The prefix and the DLL folders come from BUILD_DIR/wine-env.sh.
set -euo pipefail
build_dir="$1"
shift
# shellcheck source=/dev/null
source "$build_dir/wine-env.sh"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-run.sh: no Wine prefix at $WINEPREFIX; scripts/test-windows.sh makes it" >&2
  exit 1
fi
exec wine "$@"
