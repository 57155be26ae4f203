#!/usr/bin/env bash
# A build given a timestamp server timestamps the exe's signature: signs an
# unsigned copy of the exe as the build's last step does, against a test
# timestamp authority on loopback, and verifies both signatures.
#   check_timestamp.sh <exe> <publisher-dir>
set -euo pipefail
exe=$1 publisher=$2
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
tsa_pid=
cleanup() { [ -z "$tsa_pid" ] || kill "$tsa_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
port=$(python3 "$here/tools/peers/free-port.py")
"$here/tools/signing/test-tsa.py" "$work/tsa" "$port" &
tsa_pid=$!
for _ in $(seq 100); do
  python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
  sleep 0.1
done
osslsigncode remove-signature -in "$exe" -out "$work/setup.exe" >/dev/null
"$here/tools/signing/sign-exe.sh" "$work/setup.exe" "$publisher/publisher.crt" "$publisher/publisher.key" \
  "$publisher/ca.crt" "http://127.0.0.1:$port/"
out=$(osslsigncode verify -CAfile "$publisher/ca.crt" -TSA-CAfile "$work/tsa/tsa-ca.crt" -in "$work/setup.exe" 2>&1) || {
  echo "the timestamped exe does not verify:"
  echo "$out" | tail -n 8
  exit 1
}
grep -q 'Timestamp Server Signature verification: ok' <<<"$out" || { echo "no verified timestamp:"; echo "$out"; exit 1; }
echo "timestamped: $(sed -n 's/^\s*Timestamp time: //p' <<<"$out" | head -1)"
