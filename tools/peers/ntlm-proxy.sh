#!/usr/bin/env bash
# tools/peers/ntlm_proxy.py on a free loopback port: a proxy that demands
# NTLM, for user "ovuser" with password "ovsecret" (tinyproxy offers only
# Basic). Wine answers NTLM through winbind's ntlm_auth.
#   start <dir>: prints OV_NTLM_PROXY_PORT and OV_NTLM_PROXY_LOG (Unix path)
set -euo pipefail
cmd=$1 dir=$2
case "$cmd" in
start)
  mkdir -p "$dir"
  port=$(python3 "$(dirname "$0")/free-port.py")
  : > "$dir/ntlm.log"
  python3 "$(dirname "$0")/ntlm_proxy.py" --port "$port" --user ovuser --password ovsecret --log "$dir/ntlm.log" \
    >"$dir/ntlm.out" 2>&1 &
  echo $! > "$dir/ntlm.pid"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  echo "OV_NTLM_PROXY_PORT=$port"
  echo "OV_NTLM_PROXY_LOG=$dir/ntlm.log"
  ;;
stop)
  [ -f "$dir/ntlm.pid" ] && kill "$(cat "$dir/ntlm.pid")" 2>/dev/null || true
  ;;
esac
