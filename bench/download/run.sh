#!/usr/bin/env bash
# Download engine benchmarks, measured side by side in one run (Wine env up):
#  (a) single-stream throughput, 512 MiB from loopback nginx, against curl(1),
#      without and with a url-md5 (the installer's own downloads carry one:
#      the file is then verified, as curl does not)
#  (b) segmented against single-stream under a per-connection limit_rate,
#      and against aria2c -x2 -s2, without and with a url-md5
#  (c) the file MD5 routine against md5sum
#  (d) peak memory of the downloading process during (a)
# (a) and (b) run ROUNDS (3) rounds, each measuring every side once, and give
# the median of the rounds' ratios with their range: the machine is shared.
# The files are generated here, in a temporary folder, and removed after.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
exe=$build/bench/download/dl_bench.exe
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-bench-dl.XXXXXX")
trap '"$here/tools/peers/nginx-download.sh" stop "$work/nginx" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
eval "$("$here/tools/peers/nginx-download.sh" start "$work/nginx" | sed 's/^/export /')"
root=$OV_NGINX_ROOT base=http://127.0.0.1:$OV_NGINX_PORT
winpath() { winepath -w "$1" 2>/dev/null; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.6f\", $* }"; }
field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
row() { # measure ours reference ratio target
  printf '| %s | %s | %s | %s | %s |\n' "$@"
}

head -c 512M /dev/urandom >"$root/big.bin"
head -c 64M /dev/urandom >"$root/limited.bin"
# The same files below a folder named by their MD5, as the package server has them.
big_md5=$(md5sum "$root/big.bin" | cut -d' ' -f1)
limited_md5=$(md5sum "$root/limited.bin" | cut -d' ' -f1)
mkdir -p "$root/$big_md5" "$root/$limited_md5"
ln "$root/big.bin" "$root/$big_md5/big.bin"
ln "$root/limited.bin" "$root/$limited_md5/limited.bin"
ROUNDS=${ROUNDS:-3}
seconds() { field seconds; }
# "median (min–max)" of the numbers on standard input.
spread() { sort -g | awk '{ v[NR] = $1 } END { if (NR) printf "%.2f (%.2f–%.2f)", v[int((NR + 1) / 2)], v[1], v[NR] }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

# (a) Each round: curl, ours without a url-md5 (transfer and store only, as
# curl), ours with one (verified).
a_rounds=() host_peak_kb=0 peak_private=0 peak_ws=0
for _ in $(seq "$ROUNDS"); do
  t0=$(now); curl -s -o "$work/curl.bin" "$base/big.bin"; t1=$(now); rm -f "$work/curl.bin"
  c=$(calc "$t1 - $t0")
  # GNU time reports the process's peak resident set as the host sees it.
  out=$(/usr/bin/time -f "host_peak_kb=%M" wine "$exe" download 1 "$base/big.bin" "$(winpath "$work")\\ours.bin" 2>&1)
  cmp -s "$root/big.bin" "$work/ours.bin" || echo "bench: downloaded file differs" >&2
  rm -f "$work/ours.bin"
  o=$(seconds <<<"$out")
  m=$(wine "$exe" download 1 "$base/$big_md5/big.bin" "$(winpath "$work")\\ours.bin" | seconds)
  rm -f "$work/ours.bin"
  a_rounds+=("$c $o $m")
  for k in host_peak_kb peak_private peak_ws; do
    v=$(field "$k" <<<"$out" | tr -d "\r")
    if [ -n "$v" ] && [ "$v" -gt "${!k}" ]; then printf -v "$k" %s "$v"; fi
  done
done
raw_s=$(for _ in 1 2 3; do
  wine "$exe" raw "$base/big.bin" "$(winpath "$work")\\raw.bin" | field seconds; rm -f "$work/raw.bin"
done | sort -g | head -n1)
t0=$(now); wine "$exe" idle >/dev/null; t1=$(now); wine_start=$(calc "$t1 - $t0")
mibs() { calc "512 / $1"; }
acol() { printf '%s\n' "${a_rounds[@]}" | awk -v c="$1" '{ print $c }' | median; }
aratio() { printf '%s\n' "${a_rounds[@]}" | awk -v c="$1" '{ print $1 / $c }' | spread; }
curl_s=$(acol 1)
row "(a) single-stream 512 MiB, MiB/s" "$(printf %.0f "$(mibs "$(acol 2)")")" \
    "curl $(printf %.0f "$(mibs "$curl_s")")" "$(aratio 2)" "≥ 1.00"
row "(a) the same with its url-md5, verified (curl does not verify), MiB/s" "$(printf %.0f "$(mibs "$(acol 3)")")" \
    "curl $(printf %.0f "$(mibs "$curl_s")")" "$(aratio 3)" "≥ 1.00"
row "(a) Wine layer: bare libcurl+fwrite under Wine, MiB/s" "$(printf %.0f "$(mibs "$raw_s")")" \
    "curl $(printf %.0f "$(mibs "$curl_s")")" "$(printf %.2f "$(calc "$curl_s / $raw_s")")" "info"

# (b) 64 MiB at 16 MiB/s per connection. Each round: single stream,
# segmented without and with a url-md5, aria2c (which does not verify).
b_rounds=()
for _ in $(seq "$ROUNDS"); do
  single=$(wine "$exe" download 1 "$base/limited/limited.bin?rate=16m" "$(winpath "$work")\\s.bin" | seconds)
  segmented=$(wine "$exe" download 3 "$base/limited/limited.bin?rate=16m" "$(winpath "$work")\\m.bin" | seconds)
  cmp -s "$root/limited.bin" "$work/m.bin" || echo "bench: segmented file differs" >&2
  rm -f "$work/m.bin"
  verified=$(wine "$exe" download 3 "$base/limited/$limited_md5/limited.bin?rate=16m" "$(winpath "$work")\\m.bin" | seconds)
  t0=$(now); aria2c -q -x2 -s2 --allow-overwrite=true -d "$work" -o a.bin "$base/limited/limited.bin?rate=16m"; t1=$(now)
  b_rounds+=("$single $segmented $verified $(calc "$t1 - $t0")")
  rm -f "$work"/{s,m,a}.bin
done
bcol() { printf '%s\n' "${b_rounds[@]}" | awk -v c="$1" '{ print $c }' | median; }
bratio() { printf '%s\n' "${b_rounds[@]}" | awk -v a="$1" -v b="$2" '{ print $a / $b }' | spread; }
row "(b) segmented vs single-stream, limit_rate 16 MiB/s, 64 MiB (s)" "$(printf %.2f "$(bcol 2)")" \
    "single $(printf %.2f "$(bcol 1)")" "$(bratio 1 2)" "≥ 1.80"
row "(b) segmented vs aria2c -x2 -s2, same limit (s)" "$(printf %.2f "$(bcol 2)")" \
    "aria2c $(printf %.2f "$(bcol 4)")" "$(bratio 4 2)" "≥ 1.00"
row "(b) the same with its url-md5, verified (aria2c does not verify) (s)" "$(printf %.2f "$(bcol 3)")" \
    "aria2c $(printf %.2f "$(bcol 4)")" "$(bratio 4 3)" "≥ 1.00"

# (c) hot cache for both.
md5sum "$root/big.bin" >/dev/null
t0=$(now); md5sum "$root/big.bin" >/dev/null; t1=$(now); md5sum_s=$(calc "$t1 - $t0")
ours_md5=$(wine "$exe" md5 "$(winpath "$root/big.bin")" | field seconds)
row "(c) MD5 of 512 MiB (s)" "$(printf %.2f "$ours_md5")" "md5sum $(printf %.2f "$md5sum_s")" \
    "$(printf %.2f "$(calc "$md5sum_s / $ours_md5")")" "≥ 0.80"

# (d) the process's peak resident set as the host sees it during (a), against
# the same exe idle; then what Wine's own counters say (they do not follow
# heap growth, so they are information only).
idle_host_kb=$( { /usr/bin/time -f "host_peak_kb=%M" wine "$exe" idle >/dev/null; } 2>&1 | field host_peak_kb)
row "(d) peak resident set during (a), host view, MiB" "$(printf %.1f "$(calc "$host_peak_kb / 1024")")" \
    "idle exe $(printf %.1f "$(calc "$idle_host_kb / 1024")")" \
    "$(printf %.2f "$(calc "($host_peak_kb - $idle_host_kb) / 32768")") of target (growth)" "≤ 32 MiB growth"
idle_private=$(wine "$exe" idle | field peak_private)
row "(d) peak private memory during (a), Wine's counter, MiB" "$(printf %.1f "$(calc "$peak_private / 1048576")")" \
    "idle exe $(printf %.1f "$(calc "$idle_private / 1048576")")" "—" "info"
row "(d) peak working set during (a), MiB (incl. mapped DLLs)" \
    "$(printf %.1f "$(calc "$peak_ws / 1048576")")" "—" "—" "info"
row "Wine process start (s, not in (a))" "$(printf %.2f "$wine_start")" "—" "—" "info"
