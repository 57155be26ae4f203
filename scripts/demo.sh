#!/usr/bin/env bash
# The main job: builds everything, then under Wine on a virtual display (or
# yours): starts the installer exe, runs a real clean install and an upgrade
# of the product from a local download server, and renders the installer's
# windows. Reports, the diagnostic log of every program and screenshots land
# in $OV_DEMO_OUT (default <repo>/demo-out).
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
cleanup() { [ -n "${dbwin_pid:-}" ] && kill "$dbwin_pid" 2>/dev/null; "$here/tools/peers/nginx.sh" stop "$peers/nginx" || true; ov_wine_down; rm -rf "$peers"; }
trap cleanup EXIT
rm -rf "$out"; mkdir -p "$out" "$peers/nginx"

# A local download server; the package (the substitute product package)
# sits below a folder named by its MD5, as the real download server does it.
eval "$("$here/tools/peers/nginx.sh" start "$peers/nginx" | sed 's/^/export /')"
pkg="$build/tools/substitute/ov_substitute.exe"
md5=$(md5sum "$pkg" | cut -d' ' -f1)
mkdir -p "$OV_NGINX_ROOT/software/$md5"
cp "$pkg" "$OV_NGINX_ROOT/software/$md5/OndraVelqor_setup.exe"
url="http://127.0.0.1:$OV_NGINX_PORT/software/$md5/OndraVelqor_setup.exe"
echo "download server: $url"

# Watch every program's log on the debug-output channel.
wine "$build/tools/dbwin/dbwin.exe" > "$out/installer-log.txt" 2>/dev/null &
dbwin_pid=$!
sleep 1

echo "== 1. the installer exe starts, applies its settings and command line, and exits (no window yet)"
cp "$build/app/OndraVelqorSetup.exe" "$out/"
set +e
wine "$out/OndraVelqorSetup.exe" "-downloadurl=$url" -downloadtype=1 -ischecknet=false -isenableappanalytics=false
echo "installer exit code: $?"
set -e

folder='C:\OndraVelqorDemo\ONVelqor'
rm -rf "$WINEPREFIX/drive_c/OndraVelqorDemo"
echo "== 2. clean install: download from the local server, then the package runs silently"
wine "$build/tools/orchestrate/ov_orchestrate.exe" --url "$url" --folder "$folder" | tee "$out/install-reports.txt" | grep -v '^1002 '
echo "installed files:"; ls -l "$WINEPREFIX/drive_c/OndraVelqorDemo/ONVelqor" | tee "$out/installed-files.txt"

echo "== 3. upgrade: the recorded uninstaller removes the old copy first, then download and install"
wine "$build/tools/orchestrate/ov_orchestrate.exe" --url "$url" --folder "$folder" \
  --uninstaller "$folder\\uninst.ep" | tee "$out/upgrade-reports.txt" | grep -v '^1002 '
sleep 1
echo "installer log lines: $(wc -l < "$out/installer-log.txt") (in $out/installer-log.txt)"
grep -a "RunInstaller\|DL_TYPE\|THREAD" "$out/installer-log.txt" | head -8

echo "== 4. the installer's windows: every dialog skin and main-window page, rendered for real"
OV_BUILD_DIR=${OV_BUILD_DIR:-$here/build} "$here/scripts/gallery.sh" "$out/screens" | sed "s|^$out/||"
echo "artefacts: $out"
