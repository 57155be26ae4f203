#!/usr/bin/env bash
# Prints the benchmark table: every bench/<area>/run.sh, each printing rows
# "| measure | ours | reference | ratio | target |" measured side by side in one run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
OV_BUILD_DIR=$build "$here/scripts/build.sh" >/dev/null
. "$here/scripts/wine-env.sh"
run=$(ov_runtime_build_dir "$build")
ov_wine_up "$run"
trap ov_wine_down EXIT
# Rows run the runtime build (x86_64 where this host cannot run 32-bit
# programs); the size row always measures the shipped i686 exe.
export OV_SHIPPED_EXE="$build/app/OndraVelqorSetup.exe"
echo "| measure | ours | reference | ratio | target |"
echo "|---|---|---|---|---|"
for area in "$here"/bench/*/; do
  [ -x "$area/run.sh" ] && OV_BUILD_DIR=$run "$area/run.sh"
done
