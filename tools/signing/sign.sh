#!/usr/bin/env bash
# Signs a copy of a Windows program as a test signer would.
#   sign.sh <publisher-dir> <publisher|stranger|expired|flipped> <in.exe> <out.exe>
# "flipped" is signed by the publisher, then one byte of its code changes.
set -euo pipefail
dir=$1 who=$2 in=$3 out=$4
cert=$who key=$who
case "$who" in
  publisher|flipped) cert=publisher key=publisher;;
  expired) cert=expired key=publisher;;
  stranger) ;;
  *) echo "sign.sh: unknown signer $who" >&2; exit 2;;
esac
ca=ca; [ "$who" = stranger ] && ca=stranger-ca
rm -f "$out"
osslsigncode sign -certs "$dir/$cert.crt" -ac "$dir/$ca.crt" -key "$dir/$key.key" -h sha256 \
  -in "$in" -out "$out" >/dev/null
if [ "$who" = flipped ]; then
  # A byte well inside the code, far from the headers and the signature.
  printf '\x90' | dd of="$out" bs=1 seek=4096 conv=notrunc status=none
fi
