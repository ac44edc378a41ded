#!/usr/bin/env bash
# Smoke test of the packed Windows desk under wine and a virtual X server:
#   tests/windows/smoke.sh ZIP NATIVE_BUILD_DIR [SHOT_DIR]
# ravelto.exe is unpacked from the zip and started in a working folder whose
# config.ini points the proxy at a recording proxy on loopback, which forwards
# to the reference request service (sample requests waiting). Checked: the
# window "Вызов врача на дом" appears; the first list poll arrives with the
# exact request line; with new requests waiting the banner's red box is on the
# screen at its place; a click on the first new request and an accept (part
# of the day "До обеда", the district's doctor preselected) write one m1042
# row for that patient, read back with python3-dbf. Then the Windows-only
# maintenance paths (tests/windows/maintenance_checks.sh): the driver
# installer through wine's msiexec, the self-update through update.bat in a
# shown console, and both started command lines byte for byte. The desk runs
# from its own unpacked folder, as in a clinic, under a Russian locale (ANSI
# code page 1251, OEM 866). Screenshots of the main page, the card, the
# banner, the installed driver and the update's console are left in SHOT_DIR.
set -euo pipefail
zip=$(realpath "$1")
native=$(realpath "$2")
shots=${3:-"$(dirname "$zip")/smoke"}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
export PATH="$PATH:/usr/lib/wine"
export WINEDEBUG=-all
mkdir -p "$shots"

work=$(mktemp -d /tmp/ravelto-smoke.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "smoke: FAILED: $*" >&2
  [ -n "${DISPLAY:-}" ] && import -display "$DISPLAY" -window root "$shots/failure.png" 2>/dev/null || true
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...: true once COMMAND succeeds
  local until=$((SECONDS + $1)); shift
  while ! "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $until ] || return 1
    sleep 0.5
  done
}

# The package as a clinic gets it.
(cd "$work" && unzip -q "$zip")
app="$work/ravelto-windows-x86_64/ravelto.exe"
[ -f "$app" ] || fail "no ravelto.exe in $zip"

# Registry, request service (version 22 and its downloads), recording proxy.
desk=$(dirname "$app")
source "$here/maintenance_checks.sh"
make_served_files "$work/files"
"$native/tools/make-demo-registry/make-demo-registry" "$desk/registry" >/dev/null
"$native/tools/request-service/request-service" --host 127.0.0.1 --port 0 --state "$work/state.txt" \
  --seed "$root/tools/request-service/sample-state.txt" --files "$work/files" --latest-version 22 \
  > "$work/service.out" 2>&1 &
pids+=($!)
wait_for 20 grep -q "listening on" "$work/service.out" || fail "the request service did not start"
service_port=$(sed -n 's/.*listening on http:\/\/127.0.0.1:\([0-9]*\).*/\1/p' "$work/service.out" | head -1)
/usr/bin/python3 "$here/recording_proxy.py" --port-file "$work/proxy.port" --log "$work/proxy.log" \
  --target "127.0.0.1:$service_port" &
pids+=($!)
wait_for 10 test -s "$work/proxy.port" || fail "the recording proxy did not start"
proxy_port=$(cat "$work/proxy.port")
printf 'id=1001\r\npass=demo\r\npath=Z:%s\r\nproxy=127.0.0.1\r\nproxyport=%s\r\nkw=61\r\nkwd=78\r\n' \
  "$desk/registry" "$proxy_port" > "$desk/config.ini"

# A screen of 1280x1024 and a wine prefix with the desk's font.
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
wait_for 10 xdpyinfo || wait_for 10 xdotool getdisplaygeometry || fail "Xvfb did not start"
export WINEPREFIX="$work/prefix"
wineboot --init >/dev/null 2>&1 || true
cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

(cd "$desk" && LC_ALL=ru_RU.UTF-8 WINEDEBUG=+process exec wine64 "$app") >"$work/desk.log" 2>&1 &
pids+=($!)

window=""
find_window() { window=$(xdotool search --name "Вызов врача на дом" | head -1); [ -n "$window" ]; }
wait_for 60 find_window || fail "no window titled \"Вызов врача на дом\""
echo "smoke: window $window appeared"

expected="GET http://127.0.0.1:8380/medic/home/list.php?id=1001&pass=demo&ver=21 HTTP/1.1"
wait_for 30 grep -q "list.php" "$work/proxy.log" || fail "no list poll reached the proxy"
first=$(grep -a "list.php" "$work/proxy.log" | head -1)
[ "$first" = "$expected" ] || fail "first list poll was \"$first\", expected \"$expected\""
echo "smoke: first list poll: $first"

# The banner: a red box with white text near the bottom right corner
# (5 pixels from the right edge, 100 pixels above the bottom).
red_pixels() {
  import -window root -crop 400x40+880+924 +repage -depth 8 txt:- 2>/dev/null | grep -c "#FF0000" || true
}
banner_seen() { [ "$(red_pixels)" -gt 200 ]; }
wait_for 30 banner_seen || fail "no red banner at the bottom right"
import -window root "$shots/main.png"
echo "smoke: banner seen ($(red_pixels) red pixels in its box)"

eval "$(xdotool getwindowgeometry --shell "$window")"
echo "smoke: window at $X,$Y size ${WIDTH}x$HEIGHT"
click() { xdotool mousemove "$((X + $1))" "$((Y + $2))" click 1; sleep 1; }

# The first new request (the list's first row: 1001 of patient 10003 in the
# service's sample), its card beside the patient. Positions are measured on
# this window at 1280x1024 (offsets from the window's client origin).
click 20 50
card_shown() { grep -aq "item.php?id=1001&pass=demo&item=1001" "$work/proxy.log"; }
wait_for 20 card_shown || fail "the click on request 1001 fetched no card"
sleep 2
import -window root "$shots/card.png"
echo "smoke: card of request 1001 shown"

# Accept: part of the day "До обеда" (the second entry of the time list),
# the district's doctor as preselected, then "Записать".
click 538 382
xdotool key Down Return
sleep 1
click 645 382
saved() { grep -aq "save.php" "$work/proxy.log"; }
wait_for 30 saved || fail "the accept sent nothing to the service"
echo "smoke: decision sent: $(grep -a "save.php" "$work/proxy.log" | head -1 | sed 's/pass=[^&]*/pass=***/' | iconv -f cp1251 -t utf-8)"

# One home-visit row for the patient, read with python3-dbf.
rows_written() {
  /usr/bin/python3 - "$desk/registry" <<'PY'
import sys, dbf, glob, os
folder = sys.argv[1]
name = [f for f in os.listdir(folder) if f.lower() == "m1042.dbf"][0]
t = dbf.Table(os.path.join(folder, name), codepage="cp1251")
t.open()
rows = [r for r in t if not dbf.is_deleted(r)]
if len(rows) != 1 or int(rows[0].kl) != 10003 or rows[0].kto.strip() != "ZUVA":
    print("rows:", [(int(r.kl), r.kto.strip()) for r in rows])
    sys.exit(1)
print("m1042: one row, kl=%d, kw=%d, vr_z=%s" % (int(rows[0].kl), int(rows[0].kw), rows[0].vr_z))
PY
}
wait_for 20 rows_written || { rows_written || true; fail "m1042 does not hold exactly the accepted visit"; }
echo "smoke: $(rows_written)"
import -window root "$shots/accepted.png"

check_driver_installer
check_self_update
check_command_lines
echo "smoke: passed"
