#!/usr/bin/env bash
# The main job: builds everything, then runs the installer under Wine on a
# virtual display (or yours) the way a user would, with its diagnostic log
# captured. Artefacts land in $OV_DEMO_OUT (default <repo>/demo-out).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${OV_BUILD_DIR:-$here/build}
out=${OV_DEMO_OUT:-$here/demo-out}
OV_BUILD_DIR=$build "$here/scripts/build.sh"
. "$here/scripts/wine-env.sh"
ov_wine_up "$build"
peers=$(mktemp -d /tmp/ov-demo.XXXXXX)
cleanup() { [ -n "${dbwin_pid:-}" ] && kill "$dbwin_pid" 2>/dev/null; "$here/tools/peers/nginx.sh" stop "$peers/nginx" || true; ov_wine_down; rm -rf "$peers"; }
trap cleanup EXIT
rm -rf "$out"; mkdir -p "$out" "$peers/nginx"

# A local download server with a sample package whose MD5 is in its URL path.
eval "$("$here/tools/peers/nginx.sh" start "$peers/nginx" | sed 's/^/export /')"
head -c $((3 * 1024 * 1024)) /dev/urandom > "$peers/package.bin"
md5=$(md5sum "$peers/package.bin" | cut -d' ' -f1)
mkdir -p "$OV_NGINX_ROOT/software/$md5"
mv "$peers/package.bin" "$OV_NGINX_ROOT/software/$md5/OndraVelqor_setup.exe"
url="http://127.0.0.1:$OV_NGINX_PORT/software/$md5/OndraVelqor_setup.exe"
echo "download server: $url"

# Watch the installer's log on the debug-output channel.
wine "$build/tools/dbwin/dbwin.exe" > "$out/installer-log.txt" 2>/dev/null &
dbwin_pid=$!
sleep 1

cp "$build/app/OndraVelqorSetup.exe" "$out/"
set +e
wine "$out/OndraVelqorSetup.exe" "-downloadurl=$url" -downloadtype=1 -ischecknet=false
code=$?
set -e
sleep 1
echo "installer exit code: $code"
echo "installer log ($out/installer-log.txt):"
cat "$out/installer-log.txt"
