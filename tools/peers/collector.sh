#!/usr/bin/env bash
# The analytics collector (tools/collector/collector.py) on 127.0.0.1.
#   start <dir>: prints OV_COLLECTOR_PORT (data, plain HTTP) and
#   OV_COLLECTOR_CONTROL_PORT. With OV_COLLECTOR_TLS_PORT set in the
#   environment, the data port is that port and speaks HTTPS with a
#   self-signed certificate (the port a loopback build of the exe posts to).
set -euo pipefail
cmd=$1 dir=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
free_port() { python3 "$here/tools/peers/free-port.py"; }
case "$cmd" in
start)
  port=${OV_COLLECTOR_TLS_PORT:-$(free_port)}
  control=$(free_port)
  tls=()
  if [ -n "${OV_COLLECTOR_TLS_PORT:-}" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
      -keyout "$dir/key.pem" -out "$dir/cert.pem" >/dev/null 2>&1
    tls=(--cert "$dir/cert.pem" --key "$dir/key.pem")
  fi
  python3 "$here/tools/collector/collector.py" --port "$port" --control-port "$control" "${tls[@]}" \
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
