#!/usr/bin/env bash
# The analytics collector (tools/collector/collector.py) on 127.0.0.1.
#   start <dir>: prints OV_COLLECTOR_PORT (data) and OV_COLLECTOR_CONTROL_PORT
#   (scripted faults, received batches; see collector.py), and three TLS data
#   ports with certificates made here: OV_COLLECTOR_TLS_PORT (127.0.0.1, from
#   the test authority OV_COLLECTOR_CA), OV_COLLECTOR_TLS_OTHER_NAME_PORT (same
#   authority, another host name), OV_COLLECTOR_TLS_SELF_SIGNED_PORT.
set -euo pipefail
cmd=$1 dir=$2
here=$(cd "$(dirname "$0")/../.." && pwd)
free_port() { python3 "$here/tools/peers/free-port.py"; }
case "$cmd" in
start)
  port=$(free_port)
  control=$(free_port)
  tls_good=$(free_port) tls_other=$(free_port) tls_self=$(free_port)
  # RSA keys: Wine's certificate check refuses an ECDSA signature whose r or
  # s is shorter than the curve (a leading zero byte, about 1 signature in
  # 128), which refused the good certificate now and then.
  cert() {  # <name> <subjectAltName> [sign with the test authority: yes]
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$1" \
      -keyout "$dir/$1.key" -out "$dir/$1.csr" 2>/dev/null
    printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$2" >"$dir/$1.ext"
    if [ "${3:-}" = yes ]; then
      openssl x509 -req -in "$dir/$1.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 2 \
        -extfile "$dir/$1.ext" -out "$dir/$1.pem" 2>/dev/null
    else
      openssl x509 -req -in "$dir/$1.csr" -signkey "$dir/$1.key" -days 2 -extfile "$dir/$1.ext" \
        -out "$dir/$1.pem" 2>/dev/null
    fi
  }
  openssl req -x509 -new -newkey rsa:2048 -nodes -days 2 \
    -subj "/CN=OndraVelqor test authority" -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
  cert good "IP:127.0.0.1,DNS:localhost" yes
  cert other "DNS:other.invalid" yes
  cert self "IP:127.0.0.1,DNS:localhost"
  python3 "$here/tools/collector/collector.py" --port "$port" --control-port "$control" \
    --tls "$tls_good:$dir/good.pem:$dir/good.key" --tls "$tls_other:$dir/other.pem:$dir/other.key" \
    --tls "$tls_self:$dir/self.pem:$dir/self.key" >"$dir/collector.log" 2>&1 &
  echo $! >"$dir/collector.pid"
  for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$control") 2>/dev/null && break
    sleep 0.1
  done
  echo "OV_COLLECTOR_PORT=$port"
  echo "OV_COLLECTOR_CONTROL_PORT=$control"
  echo "OV_COLLECTOR_TLS_PORT=$tls_good"
  echo "OV_COLLECTOR_TLS_OTHER_NAME_PORT=$tls_other"
  echo "OV_COLLECTOR_TLS_SELF_SIGNED_PORT=$tls_self"
  echo "OV_COLLECTOR_CA=$dir/ca.pem"
  ;;
stop)
  [ -f "$dir/collector.pid" ] && kill "$(cat "$dir/collector.pid")" 2>/dev/null || true
  ;;
esac
