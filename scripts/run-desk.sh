#!/usr/bin/env bash
# Builds the desk and starts it in a working folder (first argument, default
# ./demo), where it reads and writes config.ini. Installs missing Debian
# packages first. Without a display (no DISPLAY set) it runs under a virtual
# X server; to do that by hand: xvfb-run -a ./scripts/run-desk.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
workdir=${1:-"$root/demo"}

"$root/scripts/install-deps.sh"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ravelto -j"$(nproc)"

mkdir -p "$workdir"
cd "$workdir"
echo "Starting the desk in $PWD (config.ini lives here)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: running under xvfb-run -a (nothing will be visible)."
  exec xvfb-run -a "$root/build/app/ravelto"
fi
exec "$root/build/app/ravelto"
