#!/usr/bin/env bash
# Builds the Windows zip and installer on Debian: installs what is missing, builds Qt for Windows
# once into a cache outside the clone, cross-builds the project and packs
# dist/torvix-tp-<version>-windows-x64.zip and, from the same files,
# dist/torvix-tp-<version>-windows-x64-setup.exe (NSIS, per user, without administrator rights).
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
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
                  googletest wine wine64 xvfb xauth xdotool x11-apps imagemagick python3 locales ccache
                  nsis)
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
  if apt-cache showsrc qt6-base 2>/dev/null | grep -qx "Version: $(qt_source_version)"; then return; fi
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
  -no-feature-sql -no-feature-concurrent -no-openssl
  -no-feature-xml -no-feature-tabletevent -no-feature-zstd
  -nomake examples -nomake tests
)
# Raise when the way Qt is built changes in a way the lines above do not show.
qt_recipe=1

# The Windows Qt is built from the source of the Linux Qt installed here: the build runs that
# one's moc, rcc and uic, which must be of the same version.
qt_source_version() {
  dpkg-query -W -f='${Version}' qt6-base-dev
}

qt_stamp() {
  printf '%s\n' "$(qt_source_version)" "$($mingw-g++-posix -dumpfullversion)" "$qt_recipe" \
    "${qt_configure[@]}" | sha1sum | cut -c1-10
}

build_qt() {
  local prefix="$1" work="$cache/work"
  say "Building Qt $qt_version for Windows into $prefix (once; about 3,000 CPU-seconds)"
  rm -rf "$work" "$prefix"
  mkdir -p "$work/src" "$prefix"
  (cd "$work/src" && apt-get source --download-only qt6-base="$(qt_source_version)" >/dev/null \
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

# A CMake project built for Windows with the same compiler and installed into PREFIX; its log is
# $cache/NAME-build.log.
cross_build() {  # cross_build NAME SOURCE WORK PREFIX [CMAKE ARGS...]
  local name="$1" source="$2" work="$3" prefix="$4" log="$cache/$1-build.log"
  shift 4
  cmake -S "$source" -B "$work" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    "$@" >"$log" 2>&1 \
    && nice -n 10 cmake --build "$work" --parallel "$jobs" >>"$log" 2>&1 \
    && cmake --install "$work" >>"$log" 2>&1 \
    || { tail -30 "$log" >&2; echo "build-windows.sh: $name build failed, see $log" >&2; exit 1; }
}

gtest_stamp() {
  printf '%s\n' "$(dpkg-query -W -f='${Version}' googletest)" "$($mingw-g++-posix -dumpfullversion)" \
    | sha1sum | cut -c1-10
}

# GoogleTest from Debian's sources (package googletest), built with the same compiler.
ensure_gtest() {
  local prefix="$cache/googletest-$(gtest_stamp)"
  if [ ! -f "$prefix/.complete" ]; then
    say "Building GoogleTest for Windows into $prefix"
    rm -rf "$prefix" "$cache/work-gtest"
    cross_build GoogleTest /usr/src/googletest "$cache/work-gtest" "$prefix" -DBUILD_SHARED_LIBS=OFF
    touch "$prefix/.complete"
    rm -rf "$cache/work-gtest"
  fi
  gtest_prefix="$prefix"
}

qcustomplot_stamp() {
  printf '%s\n' "$(dpkg-query -W -f='${Version}' libqcustomplot-dev)" "$qt_prefix" \
    | sha1sum | cut -c1-10
}

# QCustomPlot from Debian's source package (the one the Linux build uses), built with the same
# compiler against the Windows Qt.
ensure_qcustomplot() {
  local version prefix work
  version="$(dpkg-query -W -f='${Version}' libqcustomplot-dev)"
  prefix="$cache/qcustomplot-$(qcustomplot_stamp)"
  work="$cache/work-qcustomplot"
  if [ ! -f "$prefix/.complete" ]; then
    say "Building QCustomPlot $version for Windows into $prefix"
    rm -rf "$prefix" "$work"
    mkdir -p "$work/src"
    (cd "$work/src" && apt-get source --download-only qcustomplot="$version" >/dev/null 2>&1 \
       && dpkg-source --no-check -x qcustomplot_*.dsc qcustomplot >/dev/null) \
      || { echo "build-windows.sh: no source of qcustomplot $version (deb-src entries?)" >&2; exit 1; }
    cross_build QCustomPlot "$work/src/qcustomplot" "$work/build" "$prefix" \
      -DTORVIX_WINDOWS_PREFIXES="$qt_prefix" -DCMAKE_PREFIX_PATH="$qt_prefix" \
      -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
      -DUSE_QT_VERSION=6 -DBUILD_SHARED_LIBS=ON
    touch "$prefix/.complete"
    rm -rf "$work"
  fi
  qcustomplot_prefix="$prefix"
}

build_project() {
  say "Cross-building the project into $build_dir"
  local launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  mkdir -p "$build_dir"
  cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTORVIX_WERROR=ON \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DTORVIX_WINDOWS_PREFIXES="$qt_prefix;$gtest_prefix;$qcustomplot_prefix" \
    -DCMAKE_PREFIX_PATH="$qt_prefix;$gtest_prefix;$qcustomplot_prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tests/wine/wine-run.sh;$build_dir" \
    "${launcher[@]}" >"$build_dir/configure.log" 2>&1 \
    || { tail -30 "$build_dir/configure.log" >&2; echo "build-windows.sh: configure failed" >&2; exit 1; }
  nice -n 10 cmake --build "$build_dir" --parallel "$jobs"
  write_wine_env
}

# What tests/wine/wine-run.sh needs to run the build's programs under Wine: a private prefix
# (made by scripts/test-windows.sh) and the folders of the DLLs.
write_wine_env() {
  local dirs=() dir
  while read -r dir; do
    if [ -d "$dir" ]; then dirs+=("Z:${dir//\//\\}"); fi
  done < <(dll_search_path | sort -u)
  local IFS=';'
  cat >"$build_dir/wine-env.sh" <<ENV
export WINEPREFIX='$build_dir/wine-prefix'
export WINEPATH='${dirs[*]}'
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
ENV
}

# Windows' own DLLs: never shipped. Any other DLL an import table names must be found in Qt or
# the MinGW runtime, or packing fails.
windows_dlls='api-ms-win-.*|kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32|comctl32'
windows_dlls+='|ws2_32|winmm|imm32|uxtheme|dwmapi|version|shlwapi|setupapi|netapi32|userenv|wtsapi32'
windows_dlls+='|mpr|authz|rpcrt4|d3d9|d3d11|d3d12|dxgi|d2d1|dwrite|dcomp|msvcrt|ucrtbase|bcrypt|ntdll'
windows_dlls+='|shcore|crypt32|secur32|iphlpapi|dnsapi|opengl32|glu32|winspool\.drv|winhttp|ncrypt'
is_system_dll() {
  [[ "${1,,}" =~ ^($windows_dlls)(\.dll)?$ ]]
}

dll_search_path() {
  printf '%s\n' "$qt_prefix/bin" "$qcustomplot_prefix/bin" "/usr/lib/gcc/$mingw/$($mingw-g++-posix -dumpversion)" "/usr/$mingw/lib"
}

find_dll() {
  local dir
  while read -r dir; do
    [ -f "$dir/$1" ] && { echo "$dir/$1"; return 0; }
  done < <(dll_search_path)
  return 1
}

# Copies every DLL that the given files import, and what those import in turn, into $1.
copy_imported_dlls() {
  local dest="$1"; shift
  local queue=("$@") file name found
  declare -A seen=()
  while ((${#queue[@]})); do
    file="${queue[0]}"; queue=("${queue[@]:1}")
    while read -r name; do
      [ -n "${seen[${name,,}]:-}" ] && continue
      seen[${name,,}]=1
      if found="$(find_dll "$name")"; then
        cp "$found" "$dest/$name"
        queue+=("$dest/$name")
      elif ! is_system_dll "$name"; then
        echo "build-windows.sh: $(basename "$file") imports $name, found neither in Qt nor MinGW" >&2
        exit 1
      fi
    done < <($mingw-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
  done
}

pack() {
  local version stage name zip
  version="$(sed -n 's/^#define TORVIX_VERSION "\(.*\)"/\1/p' "$build_dir/generated/torvix_version.h")"
  [ -n "$version" ] || { echo "build-windows.sh: no TORVIX_VERSION in the build" >&2; exit 1; }
  name="torvix-tp-$version-windows-x64"
  stage="$build_dir/package/$name"
  rm -rf "$build_dir/package"
  mkdir -p "$stage/platforms" "$stage/styles"
  local programs=("$build_dir/torvix-tp.exe")
  [ -f "$build_dir/torvix-cli.exe" ] && programs+=("$build_dir/torvix-cli.exe")
  [ -f "$build_dir/torvix-report.exe" ] && programs+=("$build_dir/torvix-report.exe")
  cp "${programs[@]}" "$stage/"
  # The plugins windeployqt would add for a Widgets program: the platform, the native style.
  cp "$qt_prefix/plugins/platforms/qwindows.dll" "$stage/platforms/"
  cp "$qt_prefix/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
  copy_imported_dlls "$stage" "$stage"/*.exe "$stage/platforms/qwindows.dll" "$stage/styles/qwindowsvistastyle.dll"
  $mingw-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/*/*.dll
  # Notepad of any Windows version reads UTF-8 with a byte order mark and CRLF line ends.
  { printf '\xef\xbb\xbf'; sed 's/$/\r/' "$root/packaging/windows/ПРОЧТИ.txt"; } >"$stage/ПРОЧТИ.txt"
  mkdir -p "$root/dist"
  zip="$root/dist/$name.zip"
  rm -f "$zip"
  # Python's zipfile marks the Cyrillic file name as UTF-8, which Explorer and 7-Zip honour.
  (cd "$build_dir/package" && python3 -m zipfile -c "$zip" "$name")
  say "Packed $zip ($(du -k "$zip" | cut -f1) KiB): $(cd "$stage" && find . -type f | sort | tr '\n' ' ')"
  make_installer "$version" "$stage" "$root/dist/$name-setup.exe"
}

# The installer holds exactly the zip's files; its uninstaller deletes them by name (the list
# written here), so that what the program made beside itself stays.
make_installer() {  # make_installer VERSION STAGE OUTFILE
  local version="$1" stage="$2" out="$3" list="$build_dir/package-files.nsh" rel
  {
    printf '\xef\xbb\xbf'
    while read -r rel; do printf 'Delete "$INSTDIR\\%s"\r\n' "${rel//\//\\}"; done \
      < <(cd "$stage" && find . -type f -printf '%P\n' | sort)
    # Deepest first: RMDir removes only an empty folder.
    while read -r rel; do printf 'RMDir "$INSTDIR\\%s"\r\n' "${rel//\//\\}"; done \
      < <(cd "$stage" && find . -mindepth 1 -type d -printf '%P\n' | sort -r)
  } >"$list"
  rm -f "$out"
  makensis -V2 -WX -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$list" \
    -DOUTFILE="$out" "$root/packaging/windows/torvix-tp.nsi" >"$build_dir/makensis.log" 2>&1 \
    || { cat "$build_dir/makensis.log" >&2; echo "build-windows.sh: makensis failed" >&2; exit 1; }
  say "Packed $out ($(du -k "$out" | cut -f1) KiB)"
}

if ((deps)); then
  install_deps
  enable_deb_src
fi
ensure_qt
say "Qt for Windows: $qt_prefix"
((qt_only)) && exit 0
ensure_gtest
ensure_qcustomplot
build_project
pack
