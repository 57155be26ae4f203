#!/usr/bin/env bash
# Runs one test program with the host-side servers ("peers") it needs.
#   run-with-peers.sh <peer>[,<peer>...] -- <command...>
# Each peer is tools/peers/<peer>.sh: "start <state-dir>" starts it on a free
# loopback port and prints VAR=value lines (exported to the test; Wine passes
# them into the Windows environment); "stop <state-dir>" stops it. Peers are
# stopped whatever way the test ends.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
peers=$1; shift
[ "${1:-}" = "--" ] && shift
state=$(mktemp -d "${TMPDIR:-/tmp}/ov-peers.XXXXXX")
started=()
cleanup() {
  for p in "${started[@]}"; do "$here/tools/peers/$p.sh" stop "$state/$p" >/dev/null 2>&1 || true; done
  rm -rf "$state"
}
trap cleanup EXIT
IFS=, read -ra list <<<"$peers"
for p in "${list[@]}"; do
  mkdir -p "$state/$p"
  out=$("$here/tools/peers/$p.sh" start "$state/$p")
  started+=("$p")
  while IFS= read -r kv; do [ -n "$kv" ] && export "${kv?}"; done <<<"$out"
done
"$@"
