#!/bin/bash
# Starts or stops the tinyproxy the cross-built proxy test talks to. The
# Windows test program runs under wine and cannot start this Linux program
# itself, so CTest runs this script on the build machine before and after it.
#
#   tinyproxy_fixture.sh start TINYPROXY FOLDER   # leaves FOLDER/port, FOLDER/tinyproxy.log
#   tinyproxy_fixture.sh stop FOLDER
#
# The configuration is the one tests/service/proxy_test.cpp writes when it
# starts tinyproxy itself; keep the two alike.
set -u

# True when something accepts connections on 127.0.0.1:$1.
accepting() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

stop() {
  local folder=$1
  if [ -f "$folder/pid" ]; then
    local pid
    pid=$(cat "$folder/pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -rf "$folder"
}

start() {
  local program=$1 folder=$2
  stop "$folder"
  mkdir -p "$folder" || exit 1
  for _ in $(seq 20); do
    local port=$((20000 + RANDOM % 30000))
    accepting "$port" && continue
    cat >"$folder/tinyproxy.conf" <<EOF
Port $port
Listen 127.0.0.1
Timeout 30
LogLevel Connect
LogFile "$folder/tinyproxy.log"
MaxClients 10
Allow 127.0.0.1
BasicAuth user pass
EOF
    # In the foreground (no daemon), streams closed so that CTest does not
    # wait for it; `timeout` ends it should the stop step never run, and
    # passes a TERM on to it.
    timeout 900 "$program" -d -c "$folder/tinyproxy.conf" </dev/null >/dev/null 2>&1 &
    local pid=$!
    echo "$pid" >"$folder/pid"
    for _ in $(seq 100); do
      if ! kill -0 "$pid" 2>/dev/null; then
        break  # it could not listen there: another port
      fi
      if accepting "$port"; then
        echo "$port" >"$folder/port"
        echo "tinyproxy listens on 127.0.0.1:$port"
        exit 0
      fi
      sleep 0.05
    done
    kill "$pid" 2>/dev/null
    rm -f "$folder/pid"
  done
  echo "tinyproxy did not start" >&2
  exit 1
}

case "${1:-}" in
  start) start "$2" "$3" ;;
  stop) stop "$2" ;;
  *) echo "usage: $0 start TINYPROXY FOLDER | stop FOLDER" >&2; exit 2 ;;
esac
