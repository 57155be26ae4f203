#!/usr/bin/env bash
# The real installer exe in a real window under Wine, driven with real X
# input, on networks that do not hand out the package: a captive portal's
# sign-in page (declared as a web page, or sent in place of the package's
# bytes) and a server that accepts and never answers. The failure shows the
# network tip and is reported with its reason; nothing of the page is left
# in the install folder; after signing in, the tip's retry installs.
#   captive_portal_test.sh <runtime-build-dir> <artifact-dir>
# Needs the peers nginx-download, collector and faultserver (OV_FAULT_PORT).
# A screenshot of every step lands in <artifact-dir>; FAIL lines say why.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/tools/driver/installer-driver.sh"
drv_case_lines
fault_base="http://127.0.0.1:$OV_FAULT_PORT"
scenario() {  # <json>: registers a fault-server scenario, prints its md5
  curl -s -X POST --data-binary "$1" "$fault_base/_scenario" | python3 -c 'import json, sys; print(json.load(sys.stdin)["md5"])'
}
package_url() { echo "$fault_base/s/$1/$2/OndraVelqor_setup.exe"; }  # <scenario> <md5>
bodies_sent() {  # <scenario>: GET requests that were not the byte-0 probe
  curl -s "$fault_base/_log/$1" |
    python3 -c 'import json, sys; print(sum(r["method"] == "GET" and r["range"] != "bytes=0-0" for r in json.load(sys.stdin)))'
}
# The network tip, painted, with the web-page reason reported and nothing
# of the page in the install folder.
expect_portal_tip() {
  if ! wait_log 'dialog NetworkTipWnd' 60; then
    fail "no network tip"
    return 1
  fi
  sleep 0.5
  painted "$CASE-tip" NetworkTipWnd 消息框 "the network tip"
  local left
  left=$(ls -A "$WEPFX_DEFAULT" 2>/dev/null | tr '\n' ' ')
  [ -z "$left" ] && ok "nothing left in the install folder" || fail "left behind: $left"
}

# After the installer has exited (its analytics queue is sent by then).
expect_web_page_reason() {
  events | grep -q '^PlEventTask 下载失败原因 :1.code=0；2.msg=下载到的是网页而不是安装包' &&
    ok "reported: a web page came back instead of the package" || fail "reasons: $(events | grep 失败原因)"
}
# "稍后再试" on the tip: back on page 0, which closes after the exit question
# with the failed download's exit code (7), and takes the empty install
# folder it made away with it.
later_then_close() {
  dialog_click NetworkTipWnd cancelBtn
  wait_log 'page 0' 5 && ok "back to page 0" || fail "not back on page 0"
  click page0 closebtn OndraVelqor
  dialog_click exitTipWnd okBtn
  wait_exit 7 || return
  [ ! -e "$WEPFX_DEFAULT" ] && ok "no empty install folder stays" || fail "$WEPFX_DEFAULT stays behind"
}

# The portal declares its page (text/html): refused at the first request.
portal_declared_page() {
  CASE=portal-page
  reset_machine
  collector POST /reset >/dev/null
  local md5
  md5=$(scenario '{"name": "portal-page", "size": 2097152, "head": [{"html": 5000}], "get": [{"html": 5000}]}')
  URL=$(package_url portal-page "$md5")
  installer_up || return
  start_install || return
  expect_portal_tip || return
  [ "$(bodies_sent portal-page)" -eq 0 ] && ok "the page was never downloaded" || fail "the page was downloaded"
  later_then_close && expect_web_page_reason
}

# The portal answers the download with its page as the package's bytes
# (4 MiB, sending nothing after its first 2000 bytes: reading on would hold
# the download for the minute of the stall limit). After the user signs in,
# the tip's retry asks again and installs.
portal_page_as_package() {
  CASE=portal-bytes
  reset_machine
  collector POST /reset >/dev/null
  package_script "${GOOD_PACKAGE[@]/AutoStartup/UserStartup}"
  local md5
  md5=$(md5sum "$pkg" | cut -d' ' -f1)
  scenario '{"name": "portal-bytes", "file": "'"$pkg"'",
             "get": [{"html": 4194304, "stall": 2000, "type": "application/octet-stream"}]}' >/dev/null
  URL=$(package_url portal-bytes "$md5")
  installer_up || return
  start_install || return
  expect_portal_tip || return
  # Signed in: the server hands out the package now.
  scenario '{"name": "portal-bytes", "file": "'"$pkg"'"}' >/dev/null
  dialog_click NetworkTipWnd okBtn
  if wait_log 'page 3' 60; then
    ok "after signing in, the retry installed"
    shot portal-retry-finished
    press_until_exit page3 closebtn OndraVelqor 0 && expect_web_page_reason
  else
    fail "the retry did not install"
  fi
}

# A server that accepts and never answers: the progress page (which has no
# close button) gives way to the network tip within the bound of a silent
# series (60 s), not after minutes of attempts, and the installer can close.
silent_server() {
  CASE=silent-server
  reset_machine
  local md5
  md5=$(scenario '{"name": "silent", "size": 2097152, "head": [{"silent": true}], "get": [{"silent": true}]}')
  URL=$(package_url silent "$md5")
  installer_up || return
  start_install || return
  wait_log 'page 2' 10 && shot silent-progress
  local start=$SECONDS
  if wait_log 'dialog NetworkTipWnd' 150; then
    ok "the network tip after $((SECONDS - start)) s of silence"
    sleep 0.5
    painted silent-tip NetworkTipWnd 消息框 "the network tip"
    later_then_close && ok "closed"
  else
    fail "no network tip within 150 s"
  fi
}

trap drv_done EXIT
drv_init "$1" "$2"
portal_declared_page
portal_page_as_package
silent_server
echo "captive portal e2e: $failures failure(s)"
[ "$failures" -eq 0 ]
