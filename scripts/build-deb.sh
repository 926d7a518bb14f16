#!/usr/bin/env bash
# Builds the Debian package dist/torvix-tp_<version>_amd64.deb with CPack: the programs built
# for /usr/bin and with тп.ini and записи in ~/.local/share/torvix; then checks it with lintian
# (an error fails) and its menu entry with desktop-file-validate.
#
#   scripts/build-deb.sh [--no-deps] [--build-dir DIR] [--jobs N]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build-deb"
jobs=2
deps=1
while (($#)); do
  case "$1" in
    --no-deps) deps=0 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift ;;
    --jobs) jobs="$2"; shift ;;
    -h|--help) sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "build-deb.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
((deps)) && "$root/scripts/install-deps.sh"

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Only the packed programs: neither tests nor benchmarks are built for the package.
mkdir -p "$build_dir"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVIX_WERROR=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DTORVIX_PER_USER_DATA=ON -DTORVIX_TESTS=OFF -DTORVIX_BENCH=OFF \
  "${launcher[@]}" >"$build_dir/configure.log" 2>&1 \
  || { tail -30 "$build_dir/configure.log" >&2; echo "build-deb.sh: configure failed" >&2; exit 1; }
nice -n 10 cmake --build "$build_dir" --parallel "$jobs"
(cd "$build_dir" && cpack -G DEB >cpack.log 2>&1) \
  || { tail -30 "$build_dir/cpack.log" >&2; echo "build-deb.sh: cpack failed" >&2; exit 1; }

version="$(sed -n 's/^#define TORVIX_VERSION "\(.*\)"/\1/p' "$build_dir/generated/torvix_version.h")"
deb="$build_dir/torvix-tp_${version}_amd64.deb"
[ -f "$deb" ] || { echo "build-deb.sh: cpack made no $(basename "$deb")" >&2; exit 1; }
mkdir -p "$root/dist"
cp "$deb" "$root/dist/"
deb="$root/dist/$(basename "$deb")"

desktop-file-validate "$root/packaging/linux/torvix-tp.desktop"
# Warnings and notes are shown; an error fails the build.
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "== Packed $deb ($(du -k "$deb" | cut -f1) KiB); Depends: $(dpkg-deb -f "$deb" Depends)"
