#!/usr/bin/env bash
# Builds the desk and starts it in a working folder (default ./demo), where it
# reads and writes config.ini, together with the reference request service and
# a demo registry. Installs missing Debian packages first.
#
#   scripts/run-desk.sh [--xvfb] [--reset] [working-folder]
#
# In the working folder it creates, when missing: registry/ (the demo registry),
# config.ini (clinic 1001, password demo, path = registry/, kw=61, kwd=78) and
# the service's state file and log. The request service listens on
# 127.0.0.1:8380, the address the desk is built for; patients file requests
# at http://127.0.0.1:8380/ . Closing the desk stops the service.
#   --xvfb   run the desk under a virtual X server even when a display exists
#   --reset  empty the working folder first (new registry, sample requests)
# Without a display (no DISPLAY set) the desk runs under a virtual X server;
# to do that by hand: xvfb-run -a ./scripts/run-desk.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${RAVELTO_BUILD_DIR:-"$root/build"}
port=8380

xvfb=0
reset=0
workdir=""
for a in "$@"; do
  case "$a" in
    --xvfb) xvfb=1 ;;
    --reset) reset=1 ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run-desk.sh: unknown option $a" >&2; exit 2 ;;
    *) workdir=$a ;;
  esac
done
workdir=${workdir:-"$root/demo"}
case "$workdir" in /*) ;; *) workdir="$root/$workdir" ;; esac

"$root/scripts/install-deps.sh"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target ravelto request-service make-demo-registry -j"$(nproc)"

if [ "$reset" = 1 ] && [ -d "$workdir" ]; then
  rm -rf "${workdir:?}/registry" "$workdir/config.ini" "$workdir"/request-service-state.txt* \
    "$workdir/request-service.log"
fi
mkdir -p "$workdir/files"
if [ ! -f "$workdir/registry/m1005.dbf" ]; then
  "$build/tools/make-demo-registry/make-demo-registry" "$workdir/registry" --replace
fi
if [ ! -f "$workdir/config.ini" ]; then
  # Windows-1251 name=value lines with CR LF ends, as the desk writes them.
  printf 'id=1001\r\npass=demo\r\npath=%s\r\nkw=61\r\nkwd=78\r\n' "$workdir/registry" >"$workdir/config.ini"
fi

log=$workdir/request-service.log
"$build/tools/request-service/request-service" --host 127.0.0.1 --port "$port" \
  --state "$workdir/request-service-state.txt" --seed "$root/tools/request-service/sample-state.txt" \
  --files "$workdir/files" --log >"$log" 2>&1 &
service_pid=$!
stop_service() {
  if kill -0 "$service_pid" 2>/dev/null; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
}
trap stop_service EXIT
trap 'exit 130' INT TERM
for _ in $(seq 100); do
  grep -q '^listening on' "$log" 2>/dev/null && break
  if ! kill -0 "$service_pid" 2>/dev/null; then
    echo "The request service did not start (is port $port in use?):" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done
echo "Request service on http://127.0.0.1:$port (file requests at http://127.0.0.1:$port/), log: $log"

cd "$workdir"
echo "Starting the desk in $PWD (config.ini lives here)"
if [ "$xvfb" = 0 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  "$build/app/ravelto"
else
  [ "$xvfb" = 1 ] || echo "No display found: running under xvfb-run -a (nothing will be visible)."
  xvfb-run -a -s "-screen 0 1280x1024x24" "$build/app/ravelto"
fi
