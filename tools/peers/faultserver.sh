#!/usr/bin/env bash
# Our fault-injecting HTTP server (tools/faultserver) on 127.0.0.1.
#   start <dir>: prints OV_FAULT_PORT
set -euo pipefail
cmd=$1 dir=$2
here=$(cd "$(dirname "$0")/.." && pwd)
case "$cmd" in
start)
  port=$(python3 "$here/peers/free-port.py")
  mkdir -p "$dir"
  python3 "$here/faultserver/faultserver.py" "$port" >"$dir/server.log" 2>&1 &
  echo $! >"$dir/server.pid"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  echo "OV_FAULT_PORT=$port"
  ;;
stop)
  [ -f "$dir/server.pid" ] && kill "$(cat "$dir/server.pid")" 2>/dev/null || true
  ;;
esac
