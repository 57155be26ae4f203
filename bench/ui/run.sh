#!/usr/bin/env bash
# Window benchmarks, side by side in one run (the Wine environment is up):
#  - process start to the first painted frame of a dialog (skinview showing
#    "exitTipWnd.xml" from the embedded skin archive) against a minimal
#    Win32 window program; median of alternating runs;
#  - the same for the real main window controller, and again with the
#    installer's own start-up steps in front of it;
#  - for each, where the time goes: the moments of the start and the steps'
#    times as the program reports them (platform/startup_marks.h);
#  - the size of the installer exe against its budget.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
runs=${OV_BENCH_RUNS:-9}

# Runs a program once and keeps what it printed in <out>, with the launch
# moment on the host clock first ("launch <epoch ms>"); the program reports
# its first painted frame ("first-paint-epoch-ms=") and, where it has them,
# the moments of its start ("startup-mark <name> <epoch ms>") and the time
# spent in its steps ("startup-step <name> <ms> <count>").
probe_run() {
  local out=$1
  shift
  echo "launch $(date +%s%3N)" >"$out"
  wine "$@" 2>/dev/null | tr -d '\r' >>"$out" || true  # a dialog's exit code is its result
}
# Launch to first painted frame of one run's output (its teardown is not counted).
paint_ms() { awk '$1 == "launch" { t0 = $2 } /^first-paint-epoch-ms=/ { sub(/.*=/, ""); print $0 - t0 }' "$1"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Medians over runs of each start-up moment (ms from launch, in the order
# of their medians, each with its distance from the one before) and of each
# step's time; the phases between the moments add up to the frame's time.
breakdown() {
  awk '
    FNR == 1 { run++ }
    $1 == "launch" { t0 = $2 }
    $1 == "startup-mark" { at[$2, run] = $3 - t0; names[$2] = 1 }
    $1 ~ /^first-paint-epoch-ms=/ { v = $1; sub(/.*=/, "", v); at["painted", run] = v - t0; names["painted"] = 1 }
    $1 == "startup-step" { ms[$2, run] = $3; n[$2, run] = $4; if (!($2 in seen)) { seen[$2] = 1; order[++steps] = $2 } }
    function med(key, arr,   i, k, v, c, t) {
      c = 0
      for (i = 1; i <= run; i++) if ((key, i) in arr) v[++c] = arr[key, i]
      if (!c) return ""
      for (i = 2; i <= c; i++) { t = v[i]; for (k = i - 1; k >= 1 && v[k] > t; k--) v[k + 1] = v[k]; v[k + 1] = t }
      return v[int((c + 1) / 2)]
    }
    END {
      m = 0
      for (k in names) { t = med(k, at); if (t != "") { m++; mt[m] = t; mn[m] = k } }
      for (i = 2; i <= m; i++) { t = mt[i]; nm = mn[i]; for (k = i - 1; k >= 1 && mt[k] > t; k--) { mt[k + 1] = mt[k]; mn[k + 1] = mn[k] }; mt[k + 1] = t; mn[k + 1] = nm }
      line = ""; prev = 0
      for (i = 1; i <= m; i++) { line = line sprintf("%s%s %.0f (+%.0f)", i > 1 ? ", " : "", mn[i], mt[i], mt[i] - prev); prev = mt[i] }
      sl = ""
      for (j = 1; j <= steps; j++) {
        k = order[j]; t = med(k, ms); c = med(k, n)
        sl = sl sprintf("%s%s %.1f%s", sl != "" ? ", " : "", k, t, c > 1 ? " (" c "x)" : "")
      }
      printf "%s", line
      if (sl != "") printf "; steps: %s", sl
    }' "$@"
}

# first_paint_row <label> <target> <skinview args...>: ours against the
# minimal window, alternating, medians; then where the time went.
first_paint_row() {
  local label=$1 target=$2 o r i dir
  shift 2
  dir=$(mktemp -d "${TMPDIR:-/tmp}/ov-bench-paint.XXXXXX")
  for i in $(seq "$runs"); do
    probe_run "$dir/ours.$i" "$build/tools/skinview/skinview.exe" "$@" --first-paint
    probe_run "$dir/ref.$i" "$build/tools/skinview/minimal_window.exe"
  done
  o=$(for i in $(seq "$runs"); do paint_ms "$dir/ours.$i"; done | median)
  r=$(for i in $(seq "$runs"); do paint_ms "$dir/ref.$i"; done | median)
  echo "| first painted $label frame from process start (ms, median of $runs) | $o | $r (minimal Win32 window) | $(awk -v a="$o" -v b="$r" 'BEGIN { printf "%.2f", a / b }') | $target |"
  echo "| $label frame: where the time goes (ms from launch, medians) | $(breakdown "$dir"/ours.*) | $(breakdown "$dir"/ref.*) | — | — |"
  rm -rf "$dir"
}
probe_run /dev/null "$build/tools/skinview/minimal_window.exe"  # warm the file cache
first_paint_row dialog "≤ 1.2" --dialog exitTipWnd.xml
# The real main window controller (its installed-state checks included).
first_paint_row main-window "≤ 1.2" --main-window
# The same with the installer's own start-up before its window (DLL preload,
# libcurl): what the exe adds in front of the row above.
first_paint_row "main-window (installer start-up)" "—" --main-window --installer-start

# Everything linked in, unpacked and with relocations (docs/building.md has
# the recipe and what the budget leaves for high-DPI artwork and a signature).
size=$(stat -c %s "${OV_SHIPPED_EXE:-$build/app/OndraVelqorSetup.exe}")
budget=1000000
echo "| installer exe size (bytes) | $size | $budget (budget) | $(awk -v a="$size" -v b="$budget" 'BEGIN { printf "%.2f", a / b }') | ≤ 1.0 (1,000,000 B) |"

# The 30 ms animation of the progress page: frames shown against the
# timer's count, and the private memory it adds while running.
# Memory as the host sees the process (its resident set): Wine's own
# counters do not follow heap growth.
anim_out=$(mktemp)
wine "$build/tools/skinview/skinview.exe" --window mainWnd.xml --page 2 --measure-animation 5 >"$anim_out" 2>/dev/null &
anim=$!
sleep 1
rss_start=$(awk '/^VmRSS/ { print $2 }' "/proc/$anim/status" 2>/dev/null || echo 0)
rss_peak=$rss_start
while kill -0 "$anim" 2>/dev/null; do
  v=$(awk '/^VmRSS/ { print $2 }' "/proc/$anim/status" 2>/dev/null || true)
  [ -n "$v" ] && [ "$v" -gt "$rss_peak" ] && rss_peak=$v
  sleep 0.2
done
wait "$anim" || true
read -r frames expected _ < <(tr -d '\r' <"$anim_out" | sed -n 's/^frames=\([0-9]*\) expected=\([0-9]*\) growth-kb=\(-\?[0-9]*\)$/\1 \2 \3/p')
rm -f "$anim_out"
growth=$((rss_peak - rss_start))
echo "| progress animation: frames shown in 5 s at a 30 ms period | $frames | $expected (timer periods) | $(awk -v a="$frames" -v b="$expected" 'BEGIN { printf "%.2f", a / b }') | ≥ 0.95 |"
echo "| progress animation: resident set growth after the first second, host view (KB) | $growth | 0 | — | ≈ 0 |"
