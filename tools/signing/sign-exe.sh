#!/usr/bin/env bash
# Signs the shipped exe in place with Authenticode (SHA-256), the build's
# last step, and leaves the certificate authority that the exe's static
# check verifies it against beside it (<exe without .exe>.signing-ca.pem).
#   sign-exe.sh <exe> <certificate> <key> <authority> [timestamp-url]
# The certificate file may hold the whole chain; the authority is added
# too, so that Windows can build the chain without fetching it.
set -euo pipefail
exe=$1 cert=$2 key=$3 ca=$4 ts=${5:-}
tmp="$exe.signing"
rm -f "$tmp"
args=(-certs "$cert" -key "$key" -h sha256 -n "OndraVelqor Setup")
[ "$(realpath "$ca")" = "$(realpath "$cert")" ] || args+=(-ac "$ca")
[ -z "$ts" ] || args+=(-ts "$ts")
if ! out=$(osslsigncode sign "${args[@]}" -in "$exe" -out "$tmp" 2>&1); then
  rm -f "$tmp"
  echo "signing $exe failed: $out" >&2
  exit 1
fi
chmod --reference="$exe" "$tmp"
mv -f "$tmp" "$exe"
cp -f "$ca" "${exe%.exe}.signing-ca.pem"
