#!/usr/bin/env bash
# The long fuzz runs (not part of CI): every parser of outside data, a
# million inputs each by default, through tests/fuzz's coverage-guided
# in-process fuzzer on the runtime build (i686 where this host runs it).
#   bench/fuzz.sh [inputs per target] [rng seed] [target]
# Prints one line per target and, on a finding, the saved input's path;
# the findings folder is <build>/fuzz-findings.
set -euo pipefail
. "$(dirname "$0")/prepare.sh"
findings="$run/fuzz-findings"
mkdir -p "$findings"
start=$SECONDS
wine "$run/tests/fuzz/ov_fuzz.exe" "${3:-all}" "${1:-1000000}" "${2:-1}" "$(winepath -w "$findings")" | tr -d '\r'
echo "seconds=$((SECONDS - start))"
