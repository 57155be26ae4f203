#!/usr/bin/env bash
# Prints the benchmark table: every bench/<area>/run.sh, each printing rows
# "| measure | ours | reference | ratio | target |" measured side by side in one run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
OV_BUILD_DIR=$build "$here/scripts/build.sh" >/dev/null
. "$here/scripts/wine-env.sh"
ov_wine_up "$build"
trap ov_wine_down EXIT
echo "| measure | ours | reference | ratio | target |"
echo "|---|---|---|---|---|"
for area in "$here"/bench/*/; do
  [ -x "$area/run.sh" ] && OV_BUILD_DIR=$build "$area/run.sh"
done
