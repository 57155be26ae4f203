#!/usr/bin/env bash
# The gallery: opens every dialog skin and every main-window page in a real
# window under Wine (on a virtual display unless one is given) and saves a
# screenshot of each, with its shadow, into a folder.
#   scripts/gallery.sh [out-dir]      (default <build>/gallery)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
out=$(realpath -m "${1:-$build/gallery}")
OV_BUILD_DIR=$build "$here/scripts/build.sh" >/dev/null
. "$here/scripts/wine-env.sh"
run=$(ov_runtime_build_dir "$build")
ov_wine_up "$run"
trap 'sv_stop; ov_wine_down' EXIT
SV_EXE="$run/tools/skinview/skinview.exe"
. "$here/tools/skinview/skinview-lib.sh"
mkdir -p "$out"
state=$(mktemp)

# shot <name> <window title> <skinview args...>
shot() {
  local name=$1 title=$2; shift 2
  sv_start "$state" "$@"
  if ! sv_wait_ready "$state"; then echo "gallery: $name did not show" >&2; sv_stop; return 1; fi
  sleep 0.3  # the shadow is drawn after the first paint
  local x y w h
  read -r x y w h <<<"$(sv_window "$title")"
  sv_shot "$out/$name.png" "$((x - 16)) $((y - 16)) $((w + 32)) $((h + 32))"
  sv_stop
  echo "$out/$name.png"
}

shot dialog-exit 消息框 --dialog exitTipWnd.xml --owner --layout
shot dialog-installed 消息框 --dialog InstalledPathTipWnd.xml --owner --layout
shot dialog-network 消息框 --dialog NetworkTipWnd.xml --owner --layout
shot dialog-message1 消息框 --dialog MessageBox1Wnd.xml --owner --layout \
  --text '安装程序检测到OndraVelqor\n正在运行，请退出程序后再安装' --caption 温馨提示
shot dialog-message1-placeholders 消息框 --dialog MessageBox1Wnd.xml --owner --layout
shot dialog-message2 消息框 --dialog MessageBox2Wnd.xml --owner --layout --text 当前网络环境较差，请在网络通畅时进行安装 --caption 温馨提示
for page in 0 1 2 3; do
  shot "main-page$page" OndraVelqor --window mainWnd.xml --page "$page" --layout
done
rm -f "$state"
