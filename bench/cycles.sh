#!/usr/bin/env bash
# Memory and handles over time (not part of CI): N windowed installs of the
# real exe, one after the other on one machine, each opened, installed
# through 立即安装 and closed (by the window's own default actions, tools/a11y,
# so no click can be lost), with analytics on (the staging file and the log
# files carry over between runs). Per cycle, at the finished page: the
# host-measured peak and current resident set of the exe, its GDI and USER
# objects and its handles; written to a CSV, then the first ten cycles after
# the tenth against the last ten.
#   bench/cycles.sh <N> [csv, default <build>/cycles.csv]
set -uo pipefail
. "$(dirname "$0")/prepare.sh"
n=$1
csv=${2:-$run/cycles.csv}
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-cycles.XXXXXX")
fail() { echo "cycle $i: $1" >&2; }
. "$here/tools/driver/installer-driver.sh"
trap 'drv_bench_down "$work"; ov_wine_down' EXIT
build=$run
drv_bench_up "$run" "$work"
rss() { awk -v k="$2" '$1 == k ":" { print $2 }' "/proc/$1/status" 2>/dev/null; }
echo "cycle,seconds,peak_kb,rss_kb,gdi,user,handles,exit" >"$csv"
for i in $(seq "$n"); do
  start=$SECONDS
  reset_machine
  package_script "say Encode=UTF8" "say Progress=0.1" "install" "say InstPath=\${INSTDIR}" "say Progress=1" "say State=Success"
  installer_up || { echo "$i,,,,,,,no-window" >>"$csv"; continue; }
  a11y act OndraVelqor 立即安装 >/dev/null
  if ! wait_page 3 120; then
    echo "$i,,,,,,,not-installed" >>"$csv"
    stop_exe
    continue
  fi
  res=$(a11y resources 0)
  gdi=$(sed -n 's/.*gdi=\([0-9]*\).*/\1/p' <<<"$res")
  user=$(sed -n 's/.*user=\([0-9]*\).*/\1/p' <<<"$res")
  handles=$(sed -n 's/.*handles=\([0-9]*\).*/\1/p' <<<"$res")
  peak=$(rss "$EXE_PID" VmHWM) now=$(rss "$EXE_PID" VmRSS)
  a11y act OndraVelqor 关闭 >/dev/null
  code=0
  wait_exit 0 30 || code=failed
  echo "$i,$((SECONDS - start)),$peak,$now,$gdi,$user,$handles,$code" >>"$csv"
done
python3 - "$csv" <<'PY'
import csv, sys
rows = [r for r in csv.DictReader(open(sys.argv[1])) if r["exit"] == "0"]
bad = sum(1 for r in csv.DictReader(open(sys.argv[1])) if r["exit"] != "0")
def mean(rs, k):
    v = [float(r[k]) for r in rs if r[k]]
    return sum(v) / len(v) if v else float("nan")
early, late = rows[10:20], rows[-10:]
print("cycles=%d ended-badly=%d" % (len(rows) + bad, bad))
for k in ("peak_kb", "rss_kb", "gdi", "user", "handles"):
    print("%s: cycles 11-20 %.0f, last 10 %.0f" % (k, mean(early, k), mean(late, k)))
PY
