#!/usr/bin/env bash
# The gallery: opens every dialog skin and every main-window page in a real
# window under Wine (on a virtual display unless one is given) and saves a
# screenshot of each, with its shadow, into a folder: at 96 DPI (100 %) in
# the folder itself, at 144 and 192 DPI (150 %, 200 %) in its "150" and "200"
# folders. A text that does not fit its control is reported ("clipped ...").
#   scripts/gallery.sh [out-dir]      (default <build>/gallery)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
out=$(realpath -m "${1:-$build/gallery}")
OV_BUILD_DIR=$build "$here/scripts/build.sh" >/dev/null
. "$here/scripts/wine-env.sh"
run=$(ov_runtime_build_dir "$build")
ov_wine_up "$run"
trap 'sv_stop; ov_wine_dpi "${OV_WINE_DPI:-96}"; ov_wine_down' EXIT
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
  local x y w h margin
  read -r x y w h <<<"$(sv_window "$title")"
  margin=$((16 * dpi / 96))
  sv_shot "$dir/$name.png" "$((x - margin)) $((y - margin)) $((w + 2 * margin)) $((h + 2 * margin))"
  tr -d '\r' <"$state" | sed -n "s|^clipped |gallery: $dir/$name: clipped |p" >&2
  sv_stop
  echo "$dir/$name.png"
}

shots() {
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
}

for dpi in 96 144 192; do
  dir=$out
  [ "$dpi" = 96 ] || dir="$out/$((dpi * 100 / 96))"
  mkdir -p "$dir"
  ov_wine_dpi "$dpi"
  shots
done
rm -f "$state"
