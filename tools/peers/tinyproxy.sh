#!/usr/bin/env bash
# Two tinyproxy instances on 127.0.0.1, the real proxy peers of the proxy
# tests: one open, one demanding Basic authentication (which the installer
# never sends, so its 407 stays unanswered). Each writes a log that names
# every request and CONNECT it relays: the witness that traffic went through.
#   start <dir>: prints OV_PROXY_PORT, OV_PROXY_LOG, OV_AUTH_PROXY_PORT,
#   OV_AUTH_PROXY_LOG (Unix paths)
set -euo pipefail
cmd=$1 dir=$2
start_one() {  # <name> [extra config line]
  local name=$1 extra=${2:-} port
  port=$(python3 "$(dirname "$0")/free-port.py")
  # No ConnectPort line: CONNECT to any port (the tests' TLS servers use free ones).
  cat > "$dir/$name.conf" <<CONF
Port $port
Listen 127.0.0.1
Timeout 30
MaxClients 50
LogFile "$dir/$name.log"
LogLevel Info
PidFile "$dir/$name.pid"
$( [ "$(id -u)" -eq 0 ] && printf 'User root\nGroup root' )
$extra
CONF
  : > "$dir/$name.log"
  tinyproxy -d -c "$dir/$name.conf" >>"$dir/$name.out" 2>&1 &
  echo $! > "$dir/$name.pid.shell"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  echo "$port"
}
case "$cmd" in
start)
  mkdir -p "$dir"
  command -v tinyproxy >/dev/null || { echo "tinyproxy is not installed (scripts/setup-host.sh)" >&2; exit 1; }
  port=$(start_one open)
  auth_port=$(start_one auth "BasicAuth ovuser ovsecret")
  echo "OV_PROXY_PORT=$port"
  echo "OV_PROXY_LOG=$dir/open.log"
  echo "OV_AUTH_PROXY_PORT=$auth_port"
  echo "OV_AUTH_PROXY_LOG=$dir/auth.log"
  ;;
stop)
  for name in open auth; do
    [ -f "$dir/$name.pid.shell" ] && kill "$(cat "$dir/$name.pid.shell")" 2>/dev/null || true
  done
  ;;
esac
