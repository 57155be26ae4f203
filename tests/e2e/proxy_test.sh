#!/usr/bin/env bash
# The real installer exe behind a proxy that the user's settings name through
# a PAC script, driven with a real click: the package comes through tinyproxy
# (its own log is the witness) and the exe's log names the route.
#   proxy_test.sh <runtime-build-dir> <artifact-dir>
# Needs the peers nginx-download, collector and tinyproxy. A screenshot of
# every step lands in <artifact-dir>; FAIL lines say why.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
art=$2
failures=0
. "$here/tools/driver/installer-driver.sh"

drv_case_lines

INET='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
# The settings both ways Windows keeps them: the binary value WinHTTP reads
# (version 0x46, a counter, the flags, then proxy, bypass and PAC URL, each
# after its length) and the plain values WinInet reads.
set_proxy_settings() {  # <flags> <proxy> <bypass> <pac url>
  local hex
  hex=$(python3 - "$@" <<'PY'
import struct, sys
flags, proxy, bypass, pac = int(sys.argv[1]), *[s.encode() for s in sys.argv[2:5]]
data = struct.pack("<III", 0x46, 1, flags | 1)
for s in (proxy, bypass, pac):
    data += struct.pack("<I", len(s)) + s
print((data + bytes(32)).hex())
PY
)
  wine reg add "$INET\\Connections" /v DefaultConnectionSettings /t REG_BINARY /d "$hex" /f >/dev/null 2>&1
  wine reg add "$INET" /v ProxyEnable /t REG_DWORD /d $((($1 & 2) ? 1 : 0)) /f >/dev/null 2>&1
  wine reg add "$INET" /v ProxyServer /t REG_SZ /d "$2" /f >/dev/null 2>&1
  wine reg add "$INET" /v ProxyOverride /t REG_SZ /d "$3" /f >/dev/null 2>&1
  wine reg add "$INET" /v AutoConfigURL /t REG_SZ /d "$4" /f >/dev/null 2>&1
}
clear_proxy_settings() {
  wine reg delete "$INET\\Connections" /v DefaultConnectionSettings /f >/dev/null 2>&1
  local v
  for v in ProxyEnable ProxyServer ProxyOverride AutoConfigURL; do wine reg delete "$INET" /v "$v" /f >/dev/null 2>&1; done
}

cleanup() {
  clear_proxy_settings
  drv_done
}
trap cleanup EXIT
drv_init "$build" "$art"

# A PAC script sends the package's host through the proxy: one click on
# "立即安装" installs, and the proxy relayed the package.
pac_install() {
  CASE=pac-install
  reset_machine
  package_script "${GOOD_PACKAGE[@]/AutoStartup/UserStartup}"
  cat > "$OV_NGINX_ROOT/route.pac" <<PAC
function FindProxyForURL(url, host) {
  if (shExpMatch(host, "127.0.0.1")) return "PROXY 127.0.0.1:$OV_PROXY_PORT";
  return "DIRECT";
}
PAC
  set_proxy_settings 4 "" "" "http://127.0.0.1:$OV_NGINX_PORT/route.pac"
  local package=${URL#http://127.0.0.1:"$OV_NGINX_PORT"}
  start_exe -isenableappanalytics=false
  if ! wait_window OndraVelqor || ! wait_log 'page 0|default folder'; then
    fail "the window did not show"
    return
  fi
  sleep 0.5
  shot pac-page0
  start_install || return
  sleep 0.5
  shot pac-progress
  if wait_log 'page 3' 60; then
    sleep 0.5
    shot pac-finished
    ok "installed"
  else
    fail "no finished page"
  fi
  grep -q "GET http://127.0.0.1:$OV_NGINX_PORT$package" "$OV_PROXY_LOG" &&
    ok "the proxy relayed the package" || fail "the package did not go through the proxy"
  since | grep -q "proxy for http://127.0.0.1:$OV_NGINX_PORT: PAC 127.0.0.1:$OV_PROXY_PORT" &&
    ok "the log names the PAC route" || fail "no PAC route in the log"
  since | grep -E "proxy (settings|for|PAC|auto-detect)" > "$art/pac-route-log.txt"
  # The script is asked on the download's worker, never on the window's thread.
  local window_thread pac_thread
  window_thread=$(since | grep -m1 'page 2' | sed -n 's/.*<T\([0-9]*\)>.*/\1/p')
  pac_thread=$(since | grep -m1 'proxy PAC answered' | sed -n 's/.*<T\([0-9]*\)>.*/\1/p')
  [ -n "$pac_thread" ] && [ "$pac_thread" != "$window_thread" ] &&
    ok "the script was asked off the window's thread" || fail "PAC thread '$pac_thread', window '$window_thread'"
  click page3 closebtn OndraVelqor
  wait_exit 0
  clear_proxy_settings
}

pac_install

echo "proxy e2e: $failures failure(s)"
[ "$failures" -eq 0 ]
