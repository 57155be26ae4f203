#!/usr/bin/env bash
# Download soak (not part of CI): N whole sequences against the fault server,
# each with a random fault scenario and download type (tools/soak/soak.py).
#   bench/soak.sh <N> [csv file, default <build>/soak.csv] [--seed S] [--jobs J]
# Running it again with the same CSV resumes after the last sequence in it.
# Prints a line per corrupt, hung or leftover sequence and the tallies; the
# exit status is 1 when there was any.
set -euo pipefail
. "$(dirname "$0")/prepare.sh"
n=$1
csv=${2:-$run/soak.csv}
shift $(($# < 2 ? $# : 2))
state=$(mktemp -d)
"$here/tools/peers/faultserver.sh" start "$state" >"$state/env"
. "$state/env"
trap '"$here/tools/peers/faultserver.sh" stop "$state"; rm -rf "$state"; ov_wine_down' EXIT
# A quick package: installs and says so.
printf '%s\n' "say Encode=UTF8" "install" "say State=Success" >"$state/package.txt"
export OV_PACKAGE_SCRIPT="Z:$(sed 's|/|\\|g' <<<"$state/package.txt")"
python3 "$here/tools/soak/soak.py" "$n" "$run" "$OV_FAULT_PORT" "$csv" "$@"
