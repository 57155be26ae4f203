#!/usr/bin/env bash
# Window benchmarks, side by side in one run (the Wine environment is up):
#  - process start to the first painted frame of a dialog (skinview showing
#    "exitTipWnd.xml" from the embedded skin archive) against a minimal
#    Win32 window program; median of alternating runs;
#  - the size of the installer exe against its budget.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
runs=${OV_BENCH_RUNS:-9}

elapsed_ms() {
  local t0 t1
  t0=$(date +%s%N)
  wine "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

ours=() ref=()
elapsed_ms "$build/tools/skinview/minimal_window.exe" >/dev/null  # warm the file cache
for _ in $(seq "$runs"); do
  ours+=("$(elapsed_ms "$build/tools/skinview/skinview.exe" --dialog exitTipWnd.xml --first-paint)")
  ref+=("$(elapsed_ms "$build/tools/skinview/minimal_window.exe")")
done
o=$(printf '%s\n' "${ours[@]}" | median)
r=$(printf '%s\n' "${ref[@]}" | median)
echo "| first painted dialog frame from process start (ms, median of $runs) | $o | $r (minimal Win32 window) | $(awk -v a="$o" -v b="$r" 'BEGIN { printf "%.2f", a / b }') | ≤ 1.5 |"

size=$(stat -c %s "$build/app/OndraVelqorSetup.exe")
budget=1572864
echo "| installer exe size (bytes) | $size | $budget (budget) | $(awk -v a="$size" -v b="$budget" 'BEGIN { printf "%.2f", a / b }') | ≤ 1.0 (1.5 MB) |"
