# The Windows-only maintenance paths of the packed desk, run by smoke.sh in
# its wine prefix and screen once the window's own checks have passed (this
# file is sourced: it uses smoke.sh's work folder, desk folder, window, proxy
# log, click, wait_for and fail).
#
#   make_served_files DIR   the file service's downloads: ravelto.exe, a
#                           MinGW console program padded past 100000 bytes,
#                           and VFPOLEDBSetup.msi, a package built by wixl
#   check_driver_installer  "Установить драйвер ODBC": the package is fetched
#                           once, wine's msiexec installs it with the command
#                           line's properties; a second press reuses odbc.msi
#   check_self_update       "Проверить обновление" with version 22 served:
#                           update.bat runs in a shown console, waits for a
#                           key, swaps the program and starts the new one
#   check_command_lines     both started command lines, byte for byte
#
# The desk runs with WINEDEBUG=+process, so wine traces every CreateProcess
# with its command line into $work/desk.log. Wine traces neither the creation
# flags nor the show command: the shown console is checked on the screen
# instead (its window, titled with the script's path, and a screenshot).

make_served_files() {
  local dir=$1
  mkdir -p "$dir"
  x86_64-w64-mingw32-gcc -O2 -s -o "$dir/ravelto.exe" "$here/new_program.c" ||
    fail "cannot build the new program"
  [ "$(stat -c %s "$dir/ravelto.exe")" -gt 100000 ] || fail "the new program is not above 100000 bytes"
  # Random bytes do not compress, so the package stays above 100000 bytes.
  head -c 120000 /dev/urandom > "$work/payload.bin"
  (cd "$work" && wixl -a x64 -o "$dir/VFPOLEDBSetup.msi" "$here/driver.wxs") ||
    fail "wixl could not build the installer package"
}

# Gives a box the keyboard: a click into its left margin, halfway down,
# beside its text and away from its buttons and caption.
focus_box() {
  eval "$(xdotool getwindowgeometry --shell "$1" | sed 's/^/box_/')"
  xdotool mousemove "$((box_X + 12))" "$((box_Y + box_HEIGHT / 2))" click 1
}

# Presses Return in the message box "Вызов врача" and waits until it is gone.
dismiss_message() {
  local box
  find_box() { box=$(xdotool search --name "^Вызов врача$" | head -1); [ -n "$box" ]; }
  wait_for 20 find_box || fail "no message box \"Вызов врача\" ($1)"
  focus_box "$box"
  xdotool key Return
  box_gone() { ! find_box; }
  wait_for 10 box_gone || fail "the message box \"Вызов врача\" stayed open ($1)"
}

# Whether an msiexec of this wine prefix is still running (its progress
# window could take a key meant for the desk).
installer_running() {
  local p
  for p in $(pgrep -f 'msiexec' || true); do
    grep -qz "^WINEPREFIX=$WINEPREFIX\$" "/proc/$p/environ" 2>/dev/null && return 0
  done
  return 1
}
installer_done() { ! installer_running; }

downloads_of() { grep -ac "/upload/$1?" "$work/proxy.log" || true; }

check_driver_installer() {
  local installed="$WINEPREFIX/drive_c/Program Files/RaveltoTestDriver/payload.bin"
  click 271 40   # the page "Настройки"
  click 265 360  # "Установить драйвер ODBC"
  wait_for 60 test -f "$installed" || fail "msiexec did not install the package"
  wait_for 60 installer_done || fail "msiexec did not end"
  dismiss_message "after the first driver install"
  [ "$(downloads_of VFPOLEDBSetup.msi)" = 1 ] || fail "the package was not downloaded exactly once"
  cmp -s "$desk/odbc.msi" "$work/files/VFPOLEDBSetup.msi" || fail "odbc.msi is not the served package"
  cmp -s "$installed" "$work/payload.bin" || fail "the installed file differs from the package's"
  local values
  values=$(wine64 reg query 'HKLM\Software\RaveltoTestDriver' 2>/dev/null | tr -d '\r')
  grep -Eq 'AllUsers +REG_SZ +1$' <<<"$values" && grep -Eq 'Reboot +REG_SZ +R$' <<<"$values" ||
    fail "the installer did not get ALLUSERS=1 and REBOOT=R: $values"
  echo "smoke: driver package installed by msiexec (ALLUSERS=1, REBOOT=R)"
  import -window root "$shots/driver.png"

  # Again: odbc.msi is there, so nothing is downloaded and msiexec runs again.
  click 265 360
  installer_started_twice() { [ "$(grep -ac 'cmdline L"msiexec ' "$work/desk.log")" -ge 2 ]; }
  wait_for 20 installer_started_twice || fail "the second press started no installer"
  wait_for 60 installer_done || fail "the second msiexec did not end"
  dismiss_message "after the second driver install"
  [ "$(downloads_of VFPOLEDBSetup.msi)" = 1 ] || fail "the second press downloaded the package again"
  echo "smoke: second press reused odbc.msi without a download"
}

check_self_update() {
  local served="$work/files/ravelto.exe"
  click 30 17  # the menu "Меню"
  xdotool key Down Return  # "Проверить обновление"
  local question
  find_question() { question=$(xdotool search --name "^Новая версия$" | head -1); [ -n "$question" ]; }
  wait_for 20 find_question || fail "no question \"Новая версия\" for version 22"
  focus_box "$question"
  xdotool key Return  # OK
  local console=""
  find_console() { console=$(xdotool search --name 'update\.bat' | head -1); [ -n "$console" ]; }
  wait_for 30 find_console || fail "no console window for update.bat"
  [ "$(downloads_of ravelto.exe)" = 1 ] || fail "the new program was not downloaded exactly once"
  desk_closed() { ! xdotool search --name "Вызов врача на дом" >/dev/null; }
  wait_for 20 desk_closed || fail "the desk did not close after starting update.bat"
  # The script waits at pause: nothing is swapped before the key.
  sleep 1
  [ -f "$desk/raveltonew.exe" ] && [ -f "$desk/update.bat" ] && [ ! -f "$desk/started.txt" ] ||
    fail "update.bat went on before a key was pressed"
  cmp -s "$desk/raveltonew.exe" "$served" || fail "raveltonew.exe is not the served program"
  eval "$(xdotool getwindowgeometry --shell "$console" | sed 's/^/console_/')"
  import -window root -crop "${console_WIDTH}x${console_HEIGHT}+${console_X}+${console_Y}" +repage \
    "$shots/update-console.png"
  echo "smoke: update.bat waits in a shown console ($console)"

  xdotool mousemove "$((console_X + 100))" "$((console_Y + 100))" click 1
  xdotool key space
  wait_for 30 test -f "$desk/started.txt" || fail "the new program was not started after the key"
  local folder
  folder=$(head -1 "$desk/started.txt" | tr -d '\r')
  [ "$folder" = "Z:${desk//\//\\}" ] || fail "the new program started in \"$folder\", not the desk's folder"
  cmp -s "$desk/ravelto.exe" "$served" || fail "ravelto.exe is not the new program"
  scripts_gone() { [ ! -e "$desk/raveltonew.exe" ] && [ ! -e "$desk/update.bat" ]; }
  wait_for 10 scripts_gone || fail "raveltonew.exe or update.bat is left in the desk's folder"
  echo "smoke: update swapped the program and started it in $folder"
}

# The command line of every process the desk started, decoded from wine's
# trace (L"..." with \" and \\ escaped), one a line.
started_command_lines() {
  grep -a 'CreateProcessInternalW app (null) cmdline L"' "$work/desk.log" |
    sed -e 's/.*cmdline L"//' -e 's/"$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g'
}

check_command_lines() {
  local lines
  lines=$(started_command_lines)
  grep -Fxq 'update.bat' <<<"$lines" || fail "update.bat was not started as \"update.bat\": $lines"
  [ "$(grep -Fxc 'msiexec /passive /i odbc.msi ALLUSERS="1" REBOOT="R"' <<<"$lines")" = 2 ] ||
    fail "the installer's command line is not exact: $lines"
  echo "smoke: command lines exact: update.bat; msiexec /passive /i odbc.msi ALLUSERS=\"1\" REBOOT=\"R\""
}
