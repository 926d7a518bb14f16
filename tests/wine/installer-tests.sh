# shellcheck shell=bash
# The installer under Wine, sourced by run-tests.sh (its check, start_sim, wait_window,
# polls_every_100ms ...). A prefix of its own, fresh each run, as a user's machine that never saw
# the program: silent install, the installed programs on COM1, an upgrade through the pages (the
# pictures of which are kept), a silent one with /PATH, the Start menu, a silent uninstall, and
# one through the pages that takes the user's files too.
#   installer_tests SETUP_EXE ZIP
installer_tests() {
  local setup="$1" zip="$2" build_prefix="$WINEPREFIX" build_overrides="$WINEDLLOVERRIDES"
  export WINEPREFIX="$work/setup-prefix"
  # Shortcuts would otherwise become menu entries of the Linux desktop running the test.
  export WINEDLLOVERRIDES="$build_overrides;winemenubuilder.exe=d"
  rm -rf "$WINEPREFIX"
  local t=$SECONDS
  WINEARCH=win64 wineboot -i >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  local profile
  profile="$WINEPREFIX/drive_c/users/$(id -un)"
  # Wine links Desktop, Documents ... to the Linux home: as real folders, the desktop shortcut
  # stays in the prefix where the test looks for it.
  local folder
  for folder in "$profile"/*; do
    if [ -L "$folder" ]; then rm "$folder" && mkdir "$folder"; fi
  done
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$line" /f >/dev/null 2>&1
  local n
  for n in $(seq 2 16); do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d '' /f >/dev/null 2>&1
  done
  # The ports are mapped when the server starts.
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  echo "== installer prefix made in $((SECONDS - t)) s"

  local install_dir="$profile/AppData/Local/Programs/Torvix"
  local menu="$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Torvix"
  local key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Torvix'
  local title="Torvix. Тест протокола Modbus"
  local version
  version="$(basename "$setup" | sed -n 's/^torvix-tp-\(.*\)-windows-x64-setup\.exe$/\1/p')"

  # reg.exe writes to a pipe in the OEM code page of the Russian locale.
  reg_query() { wine reg query "$@" 2>/dev/null | iconv -f CP866 -t UTF-8 | tr -d '\r'; }
  installs_silently() {  # installs_silently [OPTIONS...]
    local t=$SECONDS
    timeout 180 wine "$setup" /S "$@" || return 1
    echo "setup.exe /S $* took $((SECONDS - t)) s"
  }
  check "setup.exe /S installs into a fresh prefix, without administrator rights" installs_silently
  # Exactly the files of the zip, and the uninstaller.
  same_files_as_zip() {
    diff <(python3 -c 'import sys, zipfile
for n in zipfile.ZipFile(sys.argv[1]).namelist():
    if not n.endswith("/"): print(n.split("/", 1)[1])' "$zip" | sort) \
         <(cd "$install_dir" && find . -type f ! -name uninstall.exe -printf '%P\n' | sort) &&
      [ -f "$install_dir/uninstall.exe" ]
  }
  check "%LOCALAPPDATA%\\Programs\\Torvix holds the zip's files and the uninstaller" same_files_as_zip
  shortcuts_made() {
    [ -f "$menu/$title.lnk" ] && [ -f "$menu/ПРОЧТИ.lnk" ] && [ -f "$menu/Удалить Torvix.lnk" ] &&
      [ -f "$profile/Desktop/$title.lnk" ]
  }
  check "the Start menu has the window, ПРОЧТИ and the uninstaller; the desktop a shortcut" shortcuts_made
  uninstall_entry() {
    local entry
    entry="$(reg_query "$key")"
    echo "$entry"
    grep -q "DisplayName    REG_SZ    $title" <<<"$entry" &&
      grep -q "DisplayVersion    REG_SZ    $version\$" <<<"$entry" &&
      grep -q 'Publisher    REG_SZ    Torvix$' <<<"$entry" &&
      grep -Eq 'EstimatedSize    REG_DWORD    0x[0-9a-f]{4,}$' <<<"$entry" &&
      grep -q 'QuietUninstallString    REG_SZ    ".*\\uninstall.exe" /S$' <<<"$entry"
  }
  check "HKCU has the uninstall entry with name, version, publisher and size" uninstall_entry

  # The installed program on the simulator's line, COM1 of this prefix.
  program_dir="$install_dir"
  if start_sim installed; then
    write_ini 1
    : >"$sim_log"
    run_program
    if wait_window 'Modbus' >/dev/null; then
      sleep 6
      check "the installed torvix-tp.exe polls the simulator on COM1 every 100 ms" polls_every_100ms "$sim_log"
    else
      fail "the installed torvix-tp.exe opens its window"; cat "$work/program.out"
    fi
    stop_program
    installed_cli_read() {
      local out
      out="$(timeout 60 wine "$install_dir/torvix-cli.exe" read)" && [[ "$out" == *Частота* ]]
    }
    check "the installed torvix-cli.exe read prints the status block (port from тп.ini)" installed_cli_read
  else fail "simulator for the installed program"; fi
  stop_sim

  # The user's own: a changed тп.ini and a recording.
  printf '; изменено оператором\r\n' >>"$install_dir/тп.ini"
  mkdir -p "$install_dir/записи"
  printf 'time,gen_f_hz\r\n' >"$install_dir/записи/проба.csv"
  local kept
  kept="$(cat "$install_dir/тп.ini" "$install_dir/записи/проба.csv" | sha1sum)"
  users_files_kept() {
    [ "$(cat "$install_dir/тп.ini" "$install_dir/записи/проба.csv" 2>/dev/null | sha1sum)" = "$kept" ]
  }

  # The same version again through its pages, on a Wine desktop whose pictures are kept: Enter
  # goes on with the default button of each page.
  local pictures="$build_dir/installer-pictures"
  rm -rf "$pictures"
  mkdir -p "$pictures"
  desktop_picture() { import -window root -crop 1024x768+0+0 +repage "$pictures/$1.png"; }
  installs_through_pages() {
    wine explorer /desktop=shell,1024x768 "$setup" >/dev/null 2>&1 &
    local desktop page
    desktop="$(wait_window 'shell - Wine desktop')" || return 1
    xdotool windowfocus "$desktop"
    sleep 4
    local stamp="$work/before-install"
    for page in 1-welcome 2-folder 3-components; do
      desktop_picture "$page"
      touch "$stamp"
      sleep 1
      xdotool key Return
      sleep 2
    done
    # The old version's uninstaller, the copying, the shortcuts (the desktop's last), then the
    # last page.
    local i
    for i in $(seq 120); do
      [ "$install_dir/uninstall.exe" -nt "$stamp" ] && [ "$profile/Desktop/$title.lnk" -nt "$stamp" ] && break
      sleep 0.5
    done
    sleep 3
    desktop_picture 4-finish
    xdotool key Return
    sleep 2
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    [ -f "$install_dir/torvix-tp.exe" ] && [ -f "$install_dir/uninstall.exe" ]
  }
  check "an install over it through the pages (welcome, folder, components, finish) completes" \
    installs_through_pages
  check "that install kept the changed тп.ini and записи" users_files_kept
  echo "pictures: $pictures"

  check "setup.exe /S /PATH over it installs again" installs_silently /PATH
  check "it kept тп.ini and записи too" users_files_kept
  user_path() { reg_query 'HKCU\Environment' /v Path | sed -n 's/.*REG_EXPAND_SZ    //p'; }
  local windows_dir
  windows_dir="$(winepath -w "$install_dir")"
  path_added() { local p; p="$(user_path)"; echo "PATH: $p"; [[ ";$p;" == *";$windows_dir;"* ]]; }
  check "/PATH put the program folder into the user's PATH" path_added

  start_menu_picture() {
    wine explorer /desktop=shell,1024x768 >/dev/null 2>&1 &
    local desktop
    desktop="$(wait_window 'shell - Wine desktop')" || return 1
    sleep 3
    # Start, then the mouse along the row of Programs (the first item) into its first folder,
    # which opens the folder's entries.
    xdotool mousemove --window "$desktop" 25 757 click 1
    sleep 1
    local x
    for x in 40 80 120 160 180; do
      xdotool mousemove --window "$desktop" "$x" 693
      sleep 0.7
    done
    sleep 1
    desktop_picture 5-start-menu
    xdotool key Escape Escape Escape
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    [ -s "$pictures/5-start-menu.png" ]
  }
  check "a picture of the Start menu is taken" start_menu_picture

  uninstalls_silently() {
    local t=$SECONDS i
    timeout 60 wine "$install_dir/uninstall.exe" /S || return 1
    # The uninstaller runs from a copy of itself in the temporary folder, and returns at once.
    for i in $(seq 120); do
      [ ! -e "$install_dir/uninstall.exe" ] && [ ! -e "$menu" ] && break
      sleep 0.5
    done
    sleep 1
    echo "uninstall.exe /S took $((SECONDS - t)) s"
  }
  check "uninstall.exe /S runs" uninstalls_silently
  program_removed() {
    local left
    left="$(cd "$install_dir" && find . -type f -printf '%P\n' | sort | tr '\n' ' ')"
    echo "left in the folder: $left"
    [ "$left" = "записи/проба.csv тп.ini " ] && [ ! -e "$menu" ] &&
      [ ! -e "$profile/Desktop/$title.lnk" ] && ! wine reg query "$key" >/dev/null 2>&1
  }
  check "it removed the program, its shortcuts and its HKCU entry, and kept тп.ini and записи" program_removed
  check "the kept тп.ini and записи are unchanged" users_files_kept
  path_removed() { local p; p="$(user_path)"; echo "PATH: $p"; [[ ";$p;" != *";$windows_dir;"* ]]; }
  check "the PATH entry went with it" path_removed

  # Once more, and out through the uninstaller's pages with "Удалить настройки и записи" ticked.
  check "setup.exe /S installs into the folder that kept тп.ini and записи" installs_silently
  check "and keeps them" users_files_kept
  uninstalls_everything() {
    wine explorer /desktop=shell,1024x768 "$(winepath -w "$install_dir/uninstall.exe")" >/dev/null 2>&1 &
    local desktop i
    desktop="$(wait_window 'shell - Wine desktop')" || return 1
    xdotool windowfocus "$desktop"
    sleep 4
    xdotool key Return
    sleep 2
    # The second entry of the list.
    xdotool key Down space
    sleep 1
    desktop_picture 6-uninstall-components
    xdotool key Return
    for i in $(seq 60); do [ ! -e "$install_dir" ] && break; sleep 0.5; done
    sleep 2
    xdotool key Return
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    [ ! -e "$install_dir" ]
  }
  check "ticked, \"Удалить настройки и записи\" takes тп.ini, записи and the folder too" uninstalls_everything

  wineserver -k >/dev/null 2>&1
  export WINEPREFIX="$build_prefix" WINEDLLOVERRIDES="$build_overrides"
}
