#!/usr/bin/env bash
# The analytics collector (tools/collector/collector.py) on 127.0.0.1.
#   start <dir>: prints OV_COLLECTOR_PORT (data) and OV_COLLECTOR_CONTROL_PORT
#   (scripted faults, received batches; see collector.py).
set -euo pipefail
cmd=$1 dir=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
free_port() { python3 "$here/tools/peers/free-port.py"; }
case "$cmd" in
start)
  port=$(free_port)
  control=$(free_port)
  python3 "$here/tools/collector/collector.py" --port "$port" --control-port "$control" \
    >"$dir/collector.log" 2>&1 &
  echo $! >"$dir/collector.pid"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$control") 2>/dev/null && break
    sleep 0.1
  done
  echo "OV_COLLECTOR_PORT=$port"
  echo "OV_COLLECTOR_CONTROL_PORT=$control"
  ;;
stop)
  [ -f "$dir/collector.pid" ] && kill "$(cat "$dir/collector.pid")" 2>/dev/null || true
  ;;
esac
