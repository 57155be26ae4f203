#!/usr/bin/env bash
# Drives the dialogs with real X input: button clicks and their results,
# hover and pressed images, Alt+F4, Escape, the owner coming back.
#   dialogs_test.sh <skinview.exe> <artifact-dir>
# On a failure the screen is kept as <artifact-dir>/<case>.png.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
SV_EXE=$1
art=$2
. "$here/tools/skinview/skinview-lib.sh"
mkdir -p "$art"
rm -f "$art"/*.png
out=$(mktemp)
tmp=$(mktemp -d)
trap 'sv_stop; rm -rf "$out" "$tmp"' EXIT
failures=0

fail() {
  echo "FAIL $1: $2"
  import -window root "$art/$1.png" 2>/dev/null
  failures=$((failures + 1))
}

centre() {  # centre of a control: "x y"
  local l t r b
  read -r l t r b <<<"$(sv_rect "$out" "$1")"
  echo "$(((l + r) / 2)) $(((t + b) / 2))"
}

open_dialog() {  # <case> <skinview args...>
  local name=$1; shift
  xdotool mousemove 5 5
  sv_start "$out" --layout "$@"
  sv_wait_ready "$out" || { fail "$name" "the dialog did not show"; sv_stop; return 1; }
}

finish() {  # <case> <expected exit code>: waits for the dialog to end
  local i
  for i in $(seq 100); do kill -0 "$SV_PID" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$SV_PID" 2>/dev/null; then fail "$1" "the dialog is still open"; sv_stop; return; fi
  wait "$SV_PID"; local rc=$?
  SV_PID=
  [ "$rc" -eq "$2" ] || fail "$1" "result $rc, expected $2"
}

# Focus for the keyboard: a click on the dialog's body (no control there).
focus_body() {
  local x y
  read -r x y <<<"$(centre "$1")"
  xdotool mousemove "$x" "$((y - 50))" click 1
  sleep 0.2
}

# 1. Every button of a question dialog, clicked with the mouse.
for c in "exitTipWnd.xml okBtn 0" "exitTipWnd.xml cancelBtn 1" "exitTipWnd.xml closebtn 2" \
         "InstalledPathTipWnd.xml okBtn 0" "InstalledPathTipWnd.xml cancelBtn 1" "NetworkTipWnd.xml okBtn 0" \
         "MessageBox1Wnd.xml closebtn 2" "MessageBox2Wnd.xml closebtn 2"; do
  read -r skin control expected <<<"$c"
  name="click-${skin%.xml}-$control"
  open_dialog "$name" --dialog "$skin" || continue
  read -r x y <<<"$(centre "$control")"
  xdotool mousemove "$x" "$y" sleep 0.1 click 1
  finish "$name" "$expected"
done

# 2. Hover and pressed images: the close button's look changes on each.
open_dialog hover --dialog exitTipWnd.xml && {
  read -r l t r b <<<"$(sv_rect "$out" closebtn)"
  box="$((l)) $((t)) $((r - l)) $((b - t))"
  read -r x y <<<"$(centre closebtn)"
  sleep 0.2
  sv_shot "$tmp/normal.png" "$box"
  xdotool mousemove "$x" "$y"
  sleep 0.3
  sv_shot "$tmp/hot.png" "$box"
  xdotool mousedown 1
  sleep 0.3
  sv_shot "$tmp/pushed.png" "$box"
  xdotool mouseup 1
  diff1=$(compare -metric AE "$tmp/normal.png" "$tmp/hot.png" null: 2>&1)
  diff2=$(compare -metric AE "$tmp/hot.png" "$tmp/pushed.png" null: 2>&1)
  [ "${diff1%% *}" != 0 ] || fail hover "the hot image did not appear"
  [ "${diff2%% *}" != 0 ] || fail pressed "the pushed image did not appear"
  finish hover 2
}

# 3. Alt+F4 ends the dialog with 1, like its cancel button.
open_dialog alt-f4 --dialog exitTipWnd.xml && {
  focus_body okBtn
  xdotool key alt+F4
  finish alt-f4 1
}

# 4. Escape does nothing; the dialog stays until a button ends it.
open_dialog escape --dialog NetworkTipWnd.xml && {
  focus_body okBtn
  xdotool key Escape
  sleep 0.5
  if kill -0 "$SV_PID" 2>/dev/null; then
    read -r x y <<<"$(centre cancelBtn)"
    xdotool mousemove "$x" "$y" sleep 0.1 click 1
    finish escape 1
  else
    fail escape "Escape closed the dialog"
  fi
}

# 5. The owner is enabled again once the dialog is gone.
open_dialog owner --dialog MessageBox1Wnd.xml --owner --text '安装程序检测到OndraVelqor\n正在运行' --caption 温馨提示 && {
  read -r x y <<<"$(centre closebtn)"
  xdotool mousemove "$x" "$y" sleep 0.1 click 1
  finish owner 2
  grep -q '^owner-enabled=1' "$out" || fail owner "the owner stayed disabled"
}

echo "gui dialogs: $failures failure(s)"
[ "$failures" -eq 0 ]
