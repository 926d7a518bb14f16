#!/usr/bin/env bash
# Builds the Windows zip on Debian: installs what is missing, builds Qt for Windows once into a
# cache outside the clone, cross-builds the project and packs dist/torvix-tp-<version>-windows-x64.zip.
#
#   scripts/build-windows.sh [--no-deps] [--qt-only] [--build-dir DIR] [--jobs N]
#
# TORVIX_WINDOWS_CACHE names the cache folder (default /var/cache/torvix-windows, or
# ~/.cache/torvix-windows when that is not writable).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build-windows"
jobs=2
deps=1
qt_only=0
while (($#)); do
  case "$1" in
    --no-deps) deps=0 ;;
    --qt-only) qt_only=1 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift ;;
    --jobs) jobs="$2"; shift ;;
    -h|--help) sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-windows.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

say() { printf '== %s\n' "$*" >&2; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

mingw=x86_64-w64-mingw32
qt_version=6.4.2

install_deps() {
  "$root/scripts/install-deps.sh"
  local packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 dpkg-dev xz-utils
                  wine wine64 xvfb xauth xdotool x11-apps imagemagick zip unzip ccache)
  local missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    say "Installing: ${missing[*]}"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

# apt-get source needs deb-src entries; Debian 12 keeps its sources in deb822 form.
enable_deb_src() {
  if apt-cache showsrc qt6-base 2>/dev/null | grep -q "^Version: $qt_version"; then return; fi
  local list=/etc/apt/sources.list.d/debian.sources
  [ -f "$list" ] || { echo "build-windows.sh: no $list to derive deb-src from" >&2; exit 1; }
  say "Adding deb-src entries (/etc/apt/sources.list.d/debian-src.sources)"
  sed 's/^Types: deb$/Types: deb-src/' "$list" | as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  as_root apt-get update -qq
}

cache="${TORVIX_WINDOWS_CACHE:-/var/cache/torvix-windows}"
if ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ]; then
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/torvix-windows"
  mkdir -p "$cache"
fi

qt_configure=(
  -release -shared -qt-host-path /usr -xplatform win32-g++
  -no-opengl -no-dbus -no-icu -qt-zlib -qt-libpng -no-libjpeg -qt-pcre -qt-freetype -qt-harfbuzz
  -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-concurrent
  -no-feature-xml -no-feature-tabletevent -no-feature-zstd
  -nomake examples -nomake tests
)
# Raise when the way Qt is built changes in a way the lines above do not show.
qt_recipe=1

qt_stamp() {
  local src_version compiler
  src_version="$(apt-cache showsrc qt6-base | sed -n 's/^Version: //p' | sort -V | tail -1)"
  compiler="$($mingw-g++-posix -dumpfullversion)"
  printf '%s\n' "$src_version" "$compiler" "$qt_recipe" "${qt_configure[@]}" | sha1sum | cut -c1-10
}

build_qt() {
  local prefix="$1" work="$cache/work"
  say "Building Qt $qt_version for Windows into $prefix (once; about 3,000 CPU-seconds)"
  rm -rf "$work" "$prefix"
  mkdir -p "$work/src" "$prefix"
  (cd "$work/src" && apt-get source --download-only qt6-base="$(apt-cache showsrc qt6-base | sed -n 's/^Version: //p' | sort -V | tail -1)" >/dev/null \
     && dpkg-source --no-check -x qt6-base_*.dsc qtbase >/dev/null)
  # Qt's own toolchain file chain-loads ours by absolute path: keep a copy beside the prefix.
  cp "$root/cmake/mingw-w64-x86_64.cmake" "$prefix/mingw-w64-x86_64.cmake"
  mkdir -p "$work/build"
  (cd "$work/build" && nice -n 10 "$work/src/qtbase/configure" -prefix "$prefix" "${qt_configure[@]}" -- -G Ninja \
       -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake" \
       -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >"$cache/qt-configure.log" 2>&1) \
    || { tail -40 "$cache/qt-configure.log" >&2; echo "build-windows.sh: Qt configure failed, see $cache/qt-configure.log" >&2; exit 1; }
  (cd "$work/build" && nice -n 10 cmake --build . --parallel "$jobs" >"$cache/qt-build.log" 2>&1 \
       && cmake --install . >>"$cache/qt-build.log" 2>&1) \
    || { tail -40 "$cache/qt-build.log" >&2; echo "build-windows.sh: Qt build failed, see $cache/qt-build.log" >&2; exit 1; }
  touch "$prefix/.complete"
  rm -rf "$work"
}

ensure_qt() {
  local stamp prefix
  stamp="$(qt_stamp)"
  prefix="$cache/qt-$qt_version-$stamp"
  exec 9>"$cache/.lock"
  flock 9
  if [ ! -f "$prefix/.complete" ]; then
    local start=$SECONDS
    build_qt "$prefix"
    say "Qt built in $((SECONDS - start)) s"
  fi
  flock -u 9
  qt_prefix="$prefix"
}

if ((deps)); then
  install_deps
  enable_deb_src
fi
ensure_qt
say "Qt for Windows: $qt_prefix"
((qt_only)) && exit 0
