#!/usr/bin/env bash
# The main job: builds everything, then under Wine on a virtual display (or
# yours): runs the installer exe and clicks through a real clean install and
# an upgrade of the product from a local download server, shows what the
# analytics collector received, runs one quiet install (its exit code and
# the end of its log in quiet-install.txt), and renders every installer
# window. The log, the collector's events and screenshots land in
# $OV_DEMO_OUT (default <repo>/demo-out).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
out=${OV_DEMO_OUT:-$here/demo-out}
OV_BUILD_DIR=$build "$here/scripts/build.sh"
. "$here/scripts/wine-env.sh"
shipped=$build/app/OndraVelqorSetup.exe
# The programs run here come from the runtime build: x86_64 where this host
# cannot run 32-bit programs (scripts/arch.sh); the shipped exe is i686.
echo "runtime build: $(ov_runtime_arch); shipped exe: $shipped ($(stat -c %s "$shipped") bytes)"
build=$(ov_runtime_build_dir "$build")
ov_wine_up "$build"
peers=$(mktemp -d /tmp/ov-demo.XXXXXX)
mkdir -p "$peers/nginx" "$peers/collector"
problems=0
fail() { echo "  !! $1"; shot "problem"; problems=$((problems + 1)); }
. "$here/tools/driver/installer-driver.sh"
cleanup() {
  drv_done 2>/dev/null
  "$here/tools/peers/nginx.sh" stop "$peers/nginx" || true
  "$here/tools/peers/collector.sh" stop "$peers/collector" || true
  ov_wine_down
  rm -rf "$peers"
}
trap cleanup EXIT
rm -rf "$out"; mkdir -p "$out"

# A local download server (the package sits below a folder named by its MD5,
# as the real download server does it) and the analytics collector.
eval "$("$here/tools/peers/nginx.sh" start "$peers/nginx" | sed 's/^/export /')"
eval "$("$here/tools/peers/collector.sh" start "$peers/collector" | sed 's/^/export /')"
set +e +o pipefail  # from here each step says itself what went wrong
t0=$(date +%s%3N)
drv_init "$build" "$out/screens-install"
echo "download server: $URL"
echo "   the package is signed: $(osslsigncode verify -in "$build/tools/substitute/ov_substitute.exe" \
  -CAfile "$build/test-publisher/ca.crt" 2>/dev/null | sed -n 's/^[[:space:]]*Subject: //p' | head -1)"
echo "   (the installer runs only packages signed with a pinned key: docs/trust.md)"
echo "collector: http://127.0.0.1:$OV_COLLECTOR_PORT (set through the machine-wide test override)"
lap() { local t; t=$(date +%s%3N); printf '   (%.1f s)\n' "$(awk -v a="$t" -v b="$t0" 'BEGIN { print (a - b) / 1000 }')"; t0=$t; }
lap

echo "== 1. quick install through the window: 立即安装 → progress → finished"
reset_machine
collector POST /reset >/dev/null
package_script "${GOOD_PACKAGE[@]/AutoStartup/UserStartup}"
start_exe
# A window that never paints still answers clicks: compare what it shows.
if ! wait_window OndraVelqor; then
  fail "the window did not show"
elif sleep 0.5 && shot_painted page0-one-click page0 OndraVelqor; then
  echo "   the window is painted as skinview draws page 0: $MATCH"
else
  fail "the window is not painted as skinview draws page 0: $MATCH"
fi
click page0 defaultInstallBtn OndraVelqor
wait_log 'page 2' 10 && sleep 1 && shot page2-progress
if wait_log 'page 3' 120; then
  sleep 0.5; shot page3-finished
  echo "   installed into $DEFAULT:"; ls "$WEPFX_DEFAULT" | sed 's/^/     /'
  echo "   registry record: InstallPath=$(registered)"
  click page3 closebtn OndraVelqor
  wait_exit 0 && echo "   the window closed, exit code 0"
else
  fail "the installation did not finish"
fi
lap

echo "== 2. upgrade: the installer finds the installation and asks; 安装最新版本"
start_exe
dialog_click InstalledPathTipWnd okBtn
wait_log 'page 2' 10 && sleep 1 && shot upgrade-progress
if wait_log 'page 3' 120; then
  since | grep -q UNIST_CODE_SUCCESS && echo "   the old version was removed by its own uninstaller"
  sleep 0.5; shot upgrade-finished
  click page3 openProduceBtn OndraVelqor
  wait_exit 0 && echo "   立即体验 opened the product and the installer closed"
  sleep 1
  product_running && echo "   the product is running"
else
  fail "the upgrade did not finish"
fi
lap
cp "$log" "$out/installer-log.txt"
events > "$out/collector-events.txt"
echo "== 3. what the collector received from the installer ($(wc -l <"$out/collector-events.txt") events)"
grep -E '^PlEvent(Click|View|Task) ' "$out/collector-events.txt" | sed 's/^/   /'
lap

echo "== 4. a quiet install, as a deployment script runs it: no window, the outcome as the exit code"
reset_machine
package_script "${GOOD_PACKAGE[@]}"
wine "$dir/OndraVelqorSetup.exe" -silent=true -downloadurl="$URL" -ischecknet=false \
  '-log=C:\ov_e2e\quiet-setup.log' >/dev/null 2>&1
rc=$?
{
  echo "OndraVelqorSetup.exe -silent=true -downloadurl=$URL -ischecknet=false -log=C:\\ov_e2e\\quiet-setup.log"
  echo "exit code: $rc (docs/deploy.md has the table)"
  echo "installed into: $(registered)"
  echo "the log's last lines:"
  tail -n 6 "$dir/quiet-setup.log" | tr -d '\r'
} >"$out/quiet-install.txt"
sed 's/^/   /' "$out/quiet-install.txt"
[ "$rc" -eq 0 ] || fail "the quiet install ended with exit code $rc"
product_running && fail "the quiet install started the product"
lap

echo "== 5. the installer's windows: every dialog skin and main-window page, rendered for real"
OV_BUILD_DIR=${OV_BUILD_DIR:-$here/build} "$here/scripts/gallery.sh" "$out/screens" | sed "s|^$out/||"
lap
echo "artefacts: $out (screens-install/: every step of the install and upgrade)"
[ "$problems" -eq 0 ] || { echo "demo: $problems step(s) went wrong"; exit 1; }
