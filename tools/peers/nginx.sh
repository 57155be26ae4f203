#!/usr/bin/env bash
# nginx on 127.0.0.1 as the independent HTTP peer.
#   start <dir>: serves <dir>/root; prints OV_NGINX_PORT, OV_NGINX_ROOT (Unix path)
#   and OV_NGINX_ROOT_WIN (the same folder as Wine sees it).
# A test may add "location" blocks by writing <dir>/root/../extra.conf before
# starting; the default config serves files with HEAD and ranges.
set -euo pipefail
cmd=$1 dir=$2
case "$cmd" in
start)
  port=$(python3 "$(dirname "$0")/free-port.py")
  mkdir -p "$dir/root" "$dir/tmp"
  # nginx workers run as an unprivileged user: the served folders must be readable.
  chmod a+rx "$dir/.." "$dir" "$dir/root"
  touch "$dir/extra.conf"
  cat > "$dir/nginx.conf" <<CONF
daemon on;
pid $dir/nginx.pid;
error_log $dir/error.log;
worker_processes 1;
events { worker_connections 256; }
http {
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp; proxy_temp_path $dir/tmp; fastcgi_temp_path $dir/tmp;
  uwsgi_temp_path $dir/tmp; scgi_temp_path $dir/tmp;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$port;
    root $dir/root;
    include $dir/extra.conf;
  }
}
CONF
  nginx -c "$dir/nginx.conf" -p "$dir" 2>>"$dir/error.log"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  echo "OV_NGINX_PORT=$port"
  echo "OV_NGINX_ROOT=$dir/root"
  echo "OV_NGINX_ROOT_WIN=Z:$(sed 's|/|\\|g' <<<"$dir/root")"
  ;;
stop)
  [ -f "$dir/nginx.pid" ] && kill "$(cat "$dir/nginx.pid")" 2>/dev/null || true
  ;;
esac
