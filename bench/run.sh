#!/usr/bin/env bash
# Prints the benchmark table: every bench/<area>/run.sh, each printing rows
# "| measure | ours | reference | ratio | target |" measured side by side in one run.
set -euo pipefail
. "$(dirname "$0")/prepare.sh"
# Rows run the runtime build (x86_64 where this host cannot run 32-bit
# programs); the size row always measures the shipped i686 exe.
export OV_SHIPPED_EXE="$build/app/OndraVelqorSetup.exe"
echo "| measure | ours | reference | ratio | target |"
echo "|---|---|---|---|---|"
for area in "$here"/bench/*/; do
  [ -x "$area/run.sh" ] && OV_BUILD_DIR=$run "$area/run.sh"
done
