#!/bin/sh
# Draws docs/main_window.png and docs/port_dialog.png from the real widgets, without a display.
# Usage: scripts/render_screenshots.sh [BUILD_DIR]   (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
cmake --build "$build" --target render_screenshots
QT_QPA_PLATFORM=offscreen "$build/tests/ui/render_screenshots" "$root/docs"
