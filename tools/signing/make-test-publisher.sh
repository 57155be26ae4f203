#!/usr/bin/env bash
# A test publisher for tests and the demo: a test certificate authority, the
# publisher's certificate (valid, and an expired one with the same key), and
# a stranger's certificate with the publisher's very subject name but its
# own key. Kept when already there. Prints the publisher's pin: the SHA-256
# of its DER SubjectPublicKeyInfo, as the installer compares it.
#   make-test-publisher.sh <dir>
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
subject="/C=CN/O=OndraVelqor/CN=OndraVelqor Software Publisher"
if [ ! -f publisher.crt ]; then
  # The authorities need the CA extensions; the leaves code signing.
  cat > ext.cnf <<'CNF'
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
[leaf]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
CNF
  for ca in ca stranger-ca; do
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$ca.key" -out "$ca.crt" -days 3650 \
      -subj "/CN=OndraVelqor Test $ca" -addext "basicConstraints=critical,CA:true" \
      -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  done
  leaf() {  # <name> <key> <ca> [-days N | dates...]
    local name=$1 key=$2 ca=$3
    shift 3
    [ -f "$key" ] || openssl genrsa -out "$key" 2048 2>/dev/null
    openssl req -new -key "$key" -subj "$subject" -out "$name.csr" 2>/dev/null
    openssl x509 -req -in "$name.csr" -CA "$ca.crt" -CAkey "$ca.key" -CAcreateserial -out "$name.crt" \
      -extfile ext.cnf -extensions leaf "$@" 2>/dev/null
  }
  leaf publisher publisher.key ca -days 3650
  leaf stranger stranger.key stranger-ca -days 3650
  # Valid once, expired now: the same key as the publisher.
  cat > expired.cnf <<CNF
[ca]
default_ca = test
[test]
database = $dir/index.txt
new_certs_dir = $dir
serial = $dir/serial
default_md = sha256
policy = any
copy_extensions = none
[any]
commonName = supplied
CNF
  : > index.txt
  echo 1000 > serial
  openssl req -new -key publisher.key -subj "$subject" -out expired.csr 2>/dev/null
  openssl ca -batch -config expired.cnf -cert ca.crt -keyfile ca.key -in expired.csr -out expired.crt \
    -startdate 20200101000000Z -enddate 20210101000000Z -extfile ext.cnf -extensions leaf -notext \
    -preserveDN 2>/dev/null
  openssl x509 -in publisher.crt -pubkey -noout | openssl pkey -pubin -outform DER | sha256sum | cut -d' ' -f1 > pin.txt
fi
cat pin.txt
