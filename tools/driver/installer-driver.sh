# Sourced by the main-window end-to-end test and the demo: drives the real
# installer exe under Wine (the Wine environment must be up) with real X
# input at control positions taken from the skin layout, serves the
# substitute package from nginx and reads the exe's log and the collector.
#   drv_init <runtime-build-dir> <artifact-dir>   needs OV_NGINX_ROOT, OV_NGINX_PORT,
#                                                 OV_COLLECTOR_PORT, OV_COLLECTOR_CONTROL_PORT
#   drv_done                                      stops what drv_init started
#   shot_painted <name> <skin> <title>            is the exe's window painted? (MATCH)
#   preinstall                                    the product installed and registered, as an
#                                                 earlier installer leaves it
#   press, wait_page, wait_dialog, wait_focus,    input that waits for the state it needs
#   wait_result, wait_product                     (page, dialog, focus) instead of sleeping
# The caller defines fail <text> (a step went wrong) before calling, or takes
# drv_case_lines' fail, ok and painted, which count failures in $failures.
here=${here:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
EXE_PID=
DBWIN_PID=
MATCH=
CLICKED_AT=
step=0

drv_init() {
  build=$1
  art=$2
  SV_EXE="$build/tools/skinview/skinview.exe"
  . "$here/tools/skinview/skinview-lib.sh"
  mkdir -p "$art/reference"
  rm -f "$art"/*.png "$art"/*.txt "$art"/reference/*.png
  tmp=$(mktemp -d)
  pkg="$build/tools/substitute/ov_substitute.exe"
  md5=$(md5sum "$pkg" | cut -d' ' -f1)
  mkdir -p "$OV_NGINX_ROOT/software/$md5"
  cp "$pkg" "$OV_NGINX_ROOT/software/$md5/OndraVelqor_setup.exe"
  URL="http://127.0.0.1:$OV_NGINX_PORT/software/$md5/OndraVelqor_setup.exe"
  nginx_dir=$(dirname "$OV_NGINX_ROOT")
  wine reg add 'HKLM\Software\PeLanSoft\Velqor\TestHosts' /v AnalyticsUrl /t REG_SZ \
    /d "http://127.0.0.1:$OV_COLLECTOR_PORT/sa?project=pc" /f /reg:64 >/dev/null 2>&1
  wine reg add 'HKLM\Software\PeLanSoft\Velqor\TestHosts' /v StatsHost /t REG_SZ \
    /d "127.0.0.1:$OV_NGINX_PORT" /f /reg:64 >/dev/null 2>&1

  # The package script (read by the substitute package at each run).
  export OV_PACKAGE_SCRIPT_UNIX="$tmp/package.txt"
  export OV_PACKAGE_SCRIPT="Z:$(sed 's|/|\\|g' <<<"$tmp/package.txt")"

  # The installer copy and its log, read through the debug-output channel.
  dir="$WINEPREFIX/drive_c/ov_e2e"
  mkdir -p "$dir"
  cp "$build/app/OndraVelqorSetup.exe" "$dir/"
  log="$tmp/log.txt"
  : > "$log"
  wine "$build/tools/dbwin/dbwin.exe" > "$log" 2>/dev/null &
  DBWIN_PID=$!
  sleep 1
  L="$tmp/layout"
  mkdir -p "$L"
  drv_layouts
  # The default folder of this machine, as the window offers it.
  start_exe -isenableappanalytics=false
  wait_log 'default folder' 20
  DEFAULT=$(since | sed -n 's/.*default folder //p' | head -1)
  stop_exe
  WEPFX_DEFAULT=$(unix_path "$DEFAULT")
}

drv_case_lines() {  # fail <text>, ok <text>, painted <name> <skin> <title> <what>: "ok"/"FAIL $CASE" lines
  failures=0
  fail() {
    echo "FAIL $CASE: $1"
    shot "FAIL-$CASE"
    failures=$((failures + 1))
  }
  ok() { echo "ok   $CASE: $1"; }
  # Tried until the window is drawn: a first frame can come a little after
  # the page's log line.
  painted() {
    local i
    for i in $(seq 10); do
      shot_painted "$1" "$2" "$3" && { ok "$4 painted as skinview draws it: $MATCH"; return 0; }
    done
    fail "$4 not painted as skinview draws it: $MATCH"
  }
}

drv_done() {
  sv_stop
  stop_exe
  [ -n "$DBWIN_PID" ] && kill "$DBWIN_PID" 2>/dev/null
  cp "$log" "$art/exe-log.txt" 2>/dev/null
  reset_machine  # later runs find no installation
  wine reg delete 'HKLM\Software\PeLanSoft\Velqor\TestHosts' /f /reg:64 >/dev/null 2>&1
  rm -rf "$tmp"
}

# For benchmarks and soaks that run outside ctest: nginx-download and the
# collector in <work> (from run-with-peers' peer scripts), then drv_init.
drv_bench_up() {  # <runtime-build-dir> <work>
  mkdir -p "$2/nginx" "$2/collector"
  eval "$("$here/tools/peers/nginx-download.sh" start "$2/nginx" | sed 's/^/export /')"
  eval "$("$here/tools/peers/collector.sh" start "$2/collector" | sed 's/^/export /')"
  drv_init "$1" "$2/shots" >/dev/null 2>&1
}
drv_bench_down() {  # <work>
  drv_done 2>/dev/null
  "$here/tools/peers/nginx-download.sh" stop "$1/nginx" >/dev/null 2>&1
  "$here/tools/peers/collector.sh" stop "$1/collector" >/dev/null 2>&1
  rm -rf "$1"
}
package_script() { printf '%s\n' "$@" > "$OV_PACKAGE_SCRIPT_UNIX"; }
GOOD_PACKAGE=("say Encode=UTF8" "say Progress=0.1" "install" "say Progress=0.5" "sleep 4000" "say InstPath=\${INSTDIR}"
  "say ExePath=\${INSTDIR}\\OndraVelqor.exe" "say UninstEp=\${INSTDIR}\\uninst.ep" "say StartupStyle=AutoStartup"
  "say Progress=1" "say State=Success")

shot() {  # <name>: the whole screen, numbered in order; LAST_SHOT is its file
  step=$((step + 1))
  LAST_SHOT="$art/$(printf '%02d' "$step")-$1.png"
  import -window root "$LAST_SHOT" 2>/dev/null
}
# shot <name>, then compares the exe's window <title> in it with skinview's
# rendering of the same skin in its first state (<skin>: a layout name of
# drv_init, kept in <artifact-dir>/reference/). True when enough pixels match;
# MATCH holds the share (tools/driver/image-match.py). The pointer leaves the
# window first, as it did for the reference: no hover highlight in either.
shot_painted() {
  local id X Y WIDTH HEIGHT SCREEN WINDOW
  MATCH="no $3 window"
  id=$(window_of "$3")
  [ -n "$id" ] || return 1
  xdotool mousemove 0 0
  sleep 0.3
  eval "$(xdotool getwindowgeometry --shell "$id")"
  shot "$1"
  MATCH=$("$here/tools/driver/image-match.py" "$LAST_SHOT" "$art/reference/$2.png" --at "$X,$Y")
}
# Processes of this Wine prefix only: other worktrees' runs use the same
# program names, and a plain pkill -f would end their installers too.
prefix_pids() {  # <pattern>
  local pid
  for pid in $(pgrep -f "$1"); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
prefix_pkill() {  # <pattern>
  local pids
  pids=$(prefix_pids "$1")
  [ -z "$pids" ] || kill $pids 2>/dev/null || true
}
WEPFX_DEFAULT=
reset_machine() {  # no installation, no product running
  prefix_pkill 'ONVelqor.OndraVelqor\.exe'
  wine reg delete 'HKCU\Software\PeLanSoft\Velqor' /f >/dev/null 2>&1
  [ -n "$WEPFX_DEFAULT" ] && rm -rf "$WEPFX_DEFAULT"
  rm -rf "$WINEPREFIX/drive_c/OVCustom"
  # Events an earlier, killed installer left unsent would reach this case's
  # collector: they belong to no case.
  rm -f "$WINEPREFIX"/drive_c/users/*/AppData/Local/PLLocal/Velqor.downloader/*_PLSPending.txt
}
collector() { curl -s -X "$1" "http://127.0.0.1:$OV_COLLECTOR_CONTROL_PORT$2"; }
# Events received since the last reset: "<event> <name> [elapsed]" per line.
events() {
  collector GET /batches | python3 -c '
import json, sys
for b in json.load(sys.stdin):
    for r in b["records"]:
        p = r.get("properties", {})
        name = p.get("pl_task_name") or p.get("pl_name") or ""
        extra = " %s" % p["pl_task_elapsed"] if name == "大包下载完毕" else ""
        if name.endswith("失败原因"): extra = " " + p.get("pl_reason", "")
        print("%s %s%s" % (r.get("event"), name, extra))'
}

# Where the controls are: offsets from the window's corner, from the skin as
# skinview lays it out at the prefix's DPI; with the reference pictures.
drv_layouts() {
  local p d
  for p in 0 1 3; do drv_capture "page$p" OndraVelqor --window mainWnd.xml --page "$p"; done
  for d in exitTipWnd InstalledPathTipWnd NetworkTipWnd MessageBox1Wnd MessageBox2Wnd; do
    drv_capture "$d" 消息框 --dialog "$d.xml" --owner
  done
}

# <file> <title> <skinview args...>: layout and reference picture; the texts
# that do not fit their controls ("clipped ..." lines) in $L/<file>.clipped
drv_capture() {
  local file=$1 title=$2 x y w h wx wy
  shift 2
  xdotool mousemove 0 0
  sv_start "$tmp/sv.out" "$@" --layout
  if ! sv_wait_ready "$tmp/sv.out"; then sv_stop; return 1; fi
  read -r x y _ <<<"$(sv_rect "$tmp/sv.out" @window)"
  # "ready" comes with the first paint: the X server shows the window where
  # Windows has it a moment later.
  local i seen=
  for i in $(seq 50); do
    read -r wx wy w h <<<"$(sv_window "$title")"
    [ "$wx $wy" = "$x $y" ] && { seen=1; break; }
    sleep 0.1
  done
  [ -n "$seen" ] || echo "drv_capture $file: the window is at $x,$y for Windows but $wx,$wy on X" >&2
  sleep 0.3
  sv_shot "$art/reference/$file.png" "$x $y $w $h"
  tr -d '\r' <"$tmp/sv.out" | awk -v x="$x" -v y="$y" 'NF == 5 && $1 != "@window" { printf "%s %d %d\n", $1, ($2 + $4) / 2 - x, ($3 + $5) / 2 - y }' >"$L/$file"
  tr -d '\r' <"$tmp/sv.out" | grep '^clipped ' >"$L/$file.clipped"
  sv_stop
}

stop_exe() {  # a case that failed half-way must not leave its installer holding the mutex
  if [ -n "$EXE_PID" ]; then
    kill "$EXE_PID" 2>/dev/null
    wait "$EXE_PID" 2>/dev/null
  fi
  EXE_PID=
  prefix_pkill 'ov_e2e.OndraVelqorSetup\.exe'
  sleep 0.3
}
start_exe() {  # <args...>: runs the installer; EXE_PID
  stop_exe
  LOG_FROM=$(wc -l <"$log")
  wine "$dir/OndraVelqorSetup.exe" -downloadurl="$URL" -ischecknet=false "$@" >/dev/null 2>&1 &
  EXE_PID=$!
}
since() { tail -n +"$((LOG_FROM + 1))" "$log" | tr -d '\r'; }
wait_log() {  # <regex> [seconds]: true when the exe logged it since it started
  local i
  for i in $(seq $((${2:-30} * 10))); do
    grep -Eq "$1" < <(since) && return 0
    sleep 0.1
  done
  return 1
}
# Said when a window to click is missing: did the exe end, and how did its
# log end? A CI run leaves nothing else to read.
why_no_window() {
  if [ -n "$EXE_PID" ] && ! kill -0 "$EXE_PID" 2>/dev/null; then
    printf ' (the installer has ended'
  else
    printf ' (the installer runs; its windows: %s' \
      "$(xdotool search --all --pid "${EXE_PID:-0}" --name . getwindowname %@ 2>&1 | tr '\n' '|')"
  fi
  printf '; its log ends: %s)' "$(since | tail -4 | tr '\n' '|')"
}
window_of() {  # <title>: the visible window of that title belonging to the exe
  xdotool search --all --onlyvisible --pid "$EXE_PID" --name "^$1\$" 2>/dev/null | tail -1
}
wait_window() {  # <title> [seconds]
  local i
  for i in $(seq $((${2:-20} * 10))); do
    [ -n "$(window_of "$1")" ] && return 0
    sleep 0.1
  done
  return 1
}
click() {  # <layout> <control> <window title>
  local id dx dy x y
  read -r dx dy <<<"$(awk -v n="$2" '$1 == n { print $2, $3; exit }' "$L/$1")"
  # A busy machine can show the window a moment after the exe logged it.
  wait_window "$3" 5
  id=$(window_of "$3")
  if [ -z "$id" ] || [ -z "$dx" ]; then fail "no $2 in $3$(why_no_window)"; return 1; fi
  eval "$(xdotool getwindowgeometry --shell "$id")"
  x=$((X + dx)) y=$((Y + dy))
  xdotool mousemove "$x" "$y" sleep 0.2
  CLICKED_AT=$(date +%s.%N)  # the button goes down now: benchmarks time from here
  xdotool click 1
  sleep 0.3
}
dialog_click() {  # <dialog skin> <control>
  wait_window 消息框 || { fail "no dialog for $2"; return 1; }
  sleep 0.5
  shot "$1"
  click "$1" "$2" 消息框
}
wait_exit() {  # <expected code> [seconds]
  local i rc
  for i in $(seq $((${2:-20} * 10))); do kill -0 "$EXE_PID" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$EXE_PID" 2>/dev/null; then fail "the installer is still running"; kill "$EXE_PID"; EXE_PID=; return 1; fi
  wait "$EXE_PID"; rc=$?
  EXE_PID=
  [ "$rc" -eq "$1" ] || { fail "exit code $rc, expected $1"; return 1; }
}
product_running() { [ -n "$(prefix_pids 'ONVelqor.OndraVelqor\.exe')" ]; }
registered() { wine reg query 'HKCU\Software\PeLanSoft\Velqor' /v InstallPath 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
unix_path() { winepath -u "$1" 2>/dev/null; }

# Input that waits for states instead of sleeping. click and dialog_click
# above keep their pauses for the scripts written against them.
window_drawn() {  # <window id>: something other than one flat colour is on it
  local spread
  spread=$(import -window "$1" -format '%[fx:standard_deviation]' info: 2>/dev/null)
  awk -v s="${spread:-0}" 'BEGIN { exit !(s > 0.01) }'
}
wait_focus() {  # <title> [seconds]: its window has the keyboard focus
  local i id
  for i in $(seq $((${2:-10} * 10))); do
    id=$(window_of "$1")
    [ -n "$id" ] && xdotool windowfocus --sync "$id" 2>/dev/null && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$id" ] && return 0
    sleep 0.1
  done
  return 1
}
press() {  # <layout> <control> <window title>: a click once the pointer is there
  local id dx dy X Y WIDTH HEIGHT SCREEN WINDOW
  read -r dx dy <<<"$(awk -v n="$2" '$1 == n { print $2, $3; exit }' "$L/$1")"
  # A busy machine can show the window a moment after the exe logged it.
  wait_window "$3" 5
  id=$(window_of "$3")
  if [ -z "$id" ] || [ -z "$dx" ]; then fail "no $2 in $3$(why_no_window)"; return 1; fi
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove --sync $((X + dx)) $((Y + dy))
  CLICKED_AT=$(date +%s.%N)
  xdotool click 1
}
installer_up() {  # <args...>: the installer on page 0
  start_exe "$@"
  wait_window OndraVelqor && wait_log 'page 0|default folder' || { fail "the window did not show"; return 1; }
}
start_install() {  # 立即安装 on page 0 until the progress page shows: a click
  local try        # on a window still settling in a fresh prefix can be lost
  for try in 1 2 3; do
    click page0 defaultInstallBtn OndraVelqor || return 1
    wait_page 2 10 && return 0
  done
  fail "no progress page"
  return 1
}
press_until_exit() {  # <layout> <control> <window title> <code>: a click that ends the installer, repeated when lost
  local try i
  for try in 1 2 3; do
    click "$1" "$2" "$3" || break
    for i in $(seq 100); do kill -0 "$EXE_PID" 2>/dev/null || break 2; sleep 0.1; done
  done
  wait_exit "$4"
}
wait_page() {  # <page> [seconds]: the window switched to it since the exe started
  wait_log "page $1" "${2:-30}"
}
wait_dialog() {  # <dialog skin> [seconds]: shown and drawn; LAST_SHOT has it
  local i id
  wait_log "dialog ($1|${1^})\\.xml: " "${2:-30}" || return 1
  for i in $(seq 100); do
    id=$(window_of 消息框)
    [ -n "$id" ] && window_drawn "$id" && { shot "$1"; return 0; }
    sleep 0.1
  done
  return 1
}
wait_result() {  # <dialog skin> [seconds]: the dialog has ended (its result is logged)
  wait_log "dialog ($1|${1^})\\.xml: result" "${2:-10}"
}
dialog_press() {  # <dialog skin> <control>: once the dialog is drawn; then its end
  wait_dialog "$1" || { fail "no $1 dialog for $2"; return 1; }
  press "$1" "$2" 消息框 && wait_result "$1"
}
# The installer's Windows process id, from its log lines ("<P00472>").
exe_winpid() { since | sed -n 's/.*<P0*\([0-9][0-9]*\)>.*/\1/p' | head -1; }
# What a screen reader gets of the installer's windows (tools/a11y):
#   a11y list <title>            "<id>|<name>|<role>|<states>|<x,y,w,h>|<action>|<value>" lines
#   a11y act <title> <name>      the default action of that child (a click without the mouse)
#   a11y resources 0             "gdi=<n> user=<n> handles=<n>" of the installer's process
a11y() {
  local command=$1 title=$2
  shift 2
  wine "$build/tools/a11y/ov_a11y_probe.exe" "$command" "$title" "$(exe_winpid)" "$@" 2>&1 | tr -d '\r'
}
wait_product() {  # [seconds]: the installed product runs
  local i
  for i in $(seq $((${1:-10} * 10))); do product_running && return 0; sleep 0.1; done
  return 1
}
preinstall() {  # the product in the default folder, recorded in the registry
  package_script "say Encode=UTF8" "install" "say State=Success"
  # The console driver runs the same sequence without a window.
  wine "$build/tools/orchestrate/ov_orchestrate.exe" --url "$URL" --folder "$DEFAULT" >/dev/null 2>&1 || return 1
  wine reg add 'HKCU\Software\PeLanSoft\Velqor' /v InstallPath /t REG_SZ /d "$DEFAULT" /f >/dev/null 2>&1
  [ -f "$WEPFX_DEFAULT/OndraVelqor.exe" ] && [ -f "$WEPFX_DEFAULT/uninst.ep" ]
}
