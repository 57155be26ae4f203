#!/usr/bin/env bash
# HTTPS servers on 127.0.0.1 whose certificates name a revocation list (CRL
# distribution point), made here with openssl from a test authority:
#   OV_TLS_OFFLINE_PORT  its list is on a port where nothing listens
#                        (a firewalled revocation server)
#   OV_TLS_REVOKED_PORT  its list is served (OV_TLS_CRL_LOG), and names it revoked
#   OV_TLS_GOOD_PORT     its list is served, and does not name it
# Each serves the folder OV_TLS_ROOT. OV_TLS_CA is the authority's PEM file
# (Unix path). The certificates name "localhost": libcurl over Schannel does
# not match IP addresses.
set -euo pipefail
cmd=$1 dir=$2
here=$(cd "$(dirname "$0")" && pwd)
free_port() { python3 "$here/free-port.py"; }
wait_port() { for _ in $(seq 50); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return; sleep 0.1; done; }
case "$cmd" in
start)
  mkdir -p "$dir/ca/new" "$dir/crl" "$dir/root"
  cd "$dir/ca"
  : > index.txt
  echo 1000 > serial
  echo 1000 > crlnumber
  cat > ca.cnf <<CNF
[ca]
default_ca = test
[test]
dir = $dir/ca
database = \$dir/index.txt
new_certs_dir = \$dir/new
serial = \$dir/serial
crlnumber = \$dir/crlnumber
certificate = \$dir/ca.pem
private_key = \$dir/ca.key
default_md = sha256
default_days = 2
default_crl_days = 2
unique_subject = no
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
  openssl req -x509 -new -newkey rsa:2048 -nodes -days 2 -subj "/CN=OndraVelqor Test Revocation CA" \
    -keyout ca.key -out ca.pem -addext "basicConstraints=critical,CA:true" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  crl_port=$(free_port)
  dead_port=$(free_port)
  make_cert() {  # <name> <crl url>
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$1.key" -out "$1.csr" 2>/dev/null
    cat > "$1.ext" <<EXT
basicConstraints=CA:false
subjectAltName=DNS:localhost
extendedKeyUsage=serverAuth
crlDistributionPoints=URI:$2
EXT
    openssl ca -batch -config ca.cnf -in "$1.csr" -out "$1.pem" -extfile "$1.ext" 2>/dev/null
  }
  make_cert offline "http://127.0.0.1:$dead_port/ca.crl"
  make_cert revoked "http://127.0.0.1:$crl_port/ca.crl"
  make_cert good "http://127.0.0.1:$crl_port/ca.crl"
  openssl ca -batch -config ca.cnf -revoke revoked.pem -crl_reason keyCompromise 2>/dev/null
  openssl ca -batch -config ca.cnf -gencrl -out ca.crl.pem 2>/dev/null
  openssl crl -in ca.crl.pem -outform DER -out "$dir/crl/ca.crl"
  python3 -m http.server --bind 127.0.0.1 --directory "$dir/crl" "$crl_port" >"$dir/crl.log" 2>&1 &
  echo $! > "$dir/pids"
  for name in offline revoked good; do
    port=$(free_port)
    python3 "$here/tls_files.py" --port "$port" --cert "$name.pem" --key "$name.key" --root "$dir/root" \
      >"$dir/$name.log" 2>&1 &
    echo $! >> "$dir/pids"
    wait_port "$port"
    echo "OV_TLS_$(tr a-z A-Z <<<"$name")_PORT=$port"
  done
  wait_port "$crl_port"
  echo "OV_TLS_CRL_LOG=$dir/crl.log"
  echo "OV_TLS_ROOT=$dir/root"
  echo "OV_TLS_CA=$dir/ca/ca.pem"
  ;;
stop)
  [ -f "$dir/pids" ] && while read -r pid; do kill "$pid" 2>/dev/null || true; done < "$dir/pids"
  ;;
esac
