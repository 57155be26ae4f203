#!/usr/bin/env bash
# The real installer exe in a real window under Wine, driven with real X
# input: clean, custom and upgrade installs from loopback nginx, the
# running-product message, a failed download and its retry, a failed
# package, the agreement, closing, -insnew and a second instance. The exe's
# analytics go to the collector through the machine-wide test override.
#   main_window_test.sh <runtime-build-dir> <artifact-dir>
# Needs the peers nginx-download and collector (OV_NGINX_*, OV_COLLECTOR_*).
# A screenshot of every step lands in <artifact-dir>; FAIL lines say why.
# Page 0 and the exit question must look as skinview draws their skins
# (<artifact-dir>/reference/): clicks and logs alone pass a black window.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
art=$2
failures=0
. "$here/tools/driver/installer-driver.sh"

fail() {
  echo "FAIL $CASE: $1"
  shot "FAIL-$CASE"
  failures=$((failures + 1))
}
ok() { echo "ok   $CASE: $1"; }
painted() {  # <name> <skin> <title> <what>: shot_painted as a case line
  if shot_painted "$1" "$2" "$3"; then
    ok "$4 painted as skinview draws it: $MATCH"
  else
    fail "$4 not painted as skinview draws it: $MATCH"
  fi
}
trap drv_done EXIT
drv_init "$build" "$art"
echo "default folder: $DEFAULT"

# 1, 7, 8, 10: a quick install on a clean machine -------------------------
CASE=quick-install
reset_machine
collector POST /reset >/dev/null
package_script "${GOOD_PACKAGE[@]}"
start_exe
if wait_window OndraVelqor && wait_log 'page 0|default folder'; then
  sleep 0.5
  # A window that stays black still answers clicks and logs every step.
  CASE=painted
  painted page0 page0 OndraVelqor "page 0"
  CASE=quick-install
  # 10: a second installer exits with -1 and leaves the first alone.
  wine "$dir/OndraVelqorSetup.exe" >/dev/null 2>&1
  rc=$?
  [ "$rc" -eq 255 ] && ok "second instance exits with -1" || fail "second instance exit code $rc"
  kill -0 "$EXE_PID" 2>/dev/null || fail "the first installer went away"
  # 7: without the agreement "立即安装" only shows the hint; "自定义安装" is disabled.
  CASE=agreement
  click page0 treatyCb OndraVelqor; shot agreement-off
  click page0 defaultInstallBtn OndraVelqor; shot hint
  click page0 customeBtn OndraVelqor
  sleep 0.5
  since | grep -Eq 'page [12]' && fail "a page changed without the agreement" || ok "no install, no custom page"
  since | grep -q 'DL_CODE_START' && fail "the download started without the agreement"
  click page0 treatyCb OndraVelqor
  # 8: the close button asks; "否" keeps the window.
  CASE=closing
  click page0 closebtn OndraVelqor
  if wait_window 消息框; then
    sleep 0.5
    CASE=painted
    painted exit-question exitTipWnd 消息框 "the exit question"
    CASE=closing
  fi
  dialog_click exitTipWnd cancelBtn
  sleep 0.5
  kill -0 "$EXE_PID" 2>/dev/null && ok "否 keeps the window" || fail "否 closed the installer"
  CASE=quick-install
  click page0 defaultInstallBtn OndraVelqor
  if wait_log 'page 2' 10; then
    sleep 0.5; shot progress
    # 8: Alt+F4 on the progress page does nothing.
    id=$(window_of OndraVelqor)
    xdotool windowfocus "$id" 2>/dev/null; xdotool key alt+F4; sleep 0.5
    kill -0 "$EXE_PID" 2>/dev/null && ok "Alt+F4 ignored while installing" || fail "Alt+F4 closed the installer"
    if wait_log 'page 3' 60; then
      sleep 0.5; shot finished
      [ -f "$WEPFX_DEFAULT/OndraVelqor.exe" ] && ok "product installed in the default folder" || fail "no product in $WEPFX_DEFAULT"
      [ -f "$WEPFX_DEFAULT/set.ini" ] || fail "no set.ini"
      [ "$(registered)" = "$DEFAULT" ] && ok "registry record" || fail "registry InstallPath '$(registered)'"
      sleep 1
      product_running && ok "the product opened (AutoStartup)" || fail "the product did not open"
      # 8: on the finished page the close button closes at once.
      click page3 closebtn OndraVelqor
      wait_exit 0 && ok "closed from the finished page"
    else
      fail "no finished page"
    fi
  else
    fail "no progress page"
  fi
else
  fail "the window did not show"
fi
# (The click without the agreement is reported too.)
want=$'PlEventClick 立即安装\nPlEventClick 立即安装\nPlEventView 安装中\nPlEventTask 下载器启动\nPlEventTask 开始下载大包\nPlEventTask 大包下载完毕\nPlEventTask 安装成功'
got=$(events | grep -E "^PlEvent(Click|View|Task) " | grep -v "^PlEventTask 下载失败原因" | sed "s/^\(PlEventTask 大包下载完毕\) .*/\1/")
events > "$art/quick-install-events.txt"
[ "$got" = "$want" ] && ok "collector received the events in order" || fail "events: $(tr '\n' '|' <<<"$got")"
grep -Eq '^PlEventTask 大包下载完毕 [0-9.]+$' "$art/quick-install-events.txt" || fail "no elapsed seconds on 大包下载完毕"


# 9: -insnew=true with the product installed and not running: no question,
# straight to the progress page, into the registered folder.
CASE=insnew
prefix_pkill 'ONVelqor.OndraVelqor\.exe'
package_script "${GOOD_PACKAGE[@]/AutoStartup/UserStartup}"
start_exe -insnew=true
if wait_log 'page 3' 60; then
  sleep 0.5; shot insnew-finished
  since | grep -q 'dialog ' && fail "a dialog was shown" || ok "no question"
  since | grep -q 'UNIST_CODE_SUCCESS' && ok "the old version was uninstalled first" || fail "no uninstall"
  [ -f "$WEPFX_DEFAULT/OndraVelqor.exe" ] && ok "installed into the registered folder" || fail "product missing"
  click page3 openProduceBtn OndraVelqor
  wait_exit 0
  sleep 1
  product_running && ok "立即体验 opened the product (UserStartup)" || fail "立即体验 did not open the product"
  prefix_pkill 'ONVelqor.OndraVelqor\.exe'
else
  fail "no finished page"
fi

# 3: upgrade through the already-installed question.
CASE=upgrade
package_script "${GOOD_PACKAGE[@]}"
start_exe
if dialog_click InstalledPathTipWnd okBtn && wait_log 'page 3' 60; then
  since | grep -q 'UNIST_CODE_SUCCESS' && ok "old version removed by its uninstaller" || fail "no uninstall"
  [ -f "$WEPFX_DEFAULT/OndraVelqor.exe" ] && ok "new version installed" || fail "product missing"
  shot upgrade-finished
  click page3 closebtn OndraVelqor
  wait_exit 0
else
  fail "no upgrade"
fi
prefix_pkill 'ONVelqor.OndraVelqor\.exe'
sleep 0.5
CASE=open-installed
start_exe
if dialog_click InstalledPathTipWnd cancelBtn && wait_exit 0; then
  sleep 1
  product_running && ok "打开软件 opened the installed product" || fail "the product did not open"
fi
CASE=question-closed
prefix_pkill 'ONVelqor.OndraVelqor\.exe'
sleep 0.5
start_exe
if dialog_click InstalledPathTipWnd closebtn && wait_exit 0; then
  since | grep -q 'DL_CODE_START' && fail "an installation started" || ok "closed, nothing started"
  product_running && fail "the product was opened" || true
fi

# 4: the product running at start: the message, then the installer closes.
CASE=product-running
wine "$(unix_path "$DEFAULT")/OndraVelqor.exe" --hidden >/dev/null 2>&1 &
for _ in $(seq 50); do product_running && break; sleep 0.1; done
start_exe
if dialog_click MessageBox1Wnd closebtn && wait_exit 0; then
  # (The log channel carries ANSI text: the Chinese message is in the screenshot.)
  since | grep -q 'dialog MessageBox1Wnd.xml' && ok "running-product message shown" || fail "no message"
  since | grep -Eq 'DL_CODE_START|page 2' && fail "an installation started" || ok "nothing launched"
fi
prefix_pkill 'ONVelqor.OndraVelqor\.exe'

# 5: the download fails while the server is down; "重新安装" once it is back
# installs into the same folder; "下载器启动" is reported once in total.
CASE=download-retry
reset_machine
collector POST /reset >/dev/null
package_script "${GOOD_PACKAGE[@]/AutoStartup/UserStartup}"
"$here/tools/peers/nginx.sh" stop "$nginx_dir" >/dev/null
start_exe
if wait_window OndraVelqor; then
  click page0 defaultInstallBtn OndraVelqor
  if wait_log 'dialog NetworkTipWnd' 120; then
    nginx -c "$nginx_dir/nginx.conf" -p "$nginx_dir" 2>/dev/null
    sleep 0.5
    dialog_click NetworkTipWnd okBtn
    if wait_log 'page 3' 60; then
      ok "the retry installed"
      [ -f "$WEPFX_DEFAULT/OndraVelqor.exe" ] && ok "into the same folder" || fail "product missing"
      shot retry-finished
      click page3 closebtn OndraVelqor
      wait_exit 0
      n=$(events | grep -c '^PlEventTask 下载器启动$')
      [ "$n" -eq 1 ] && ok "下载器启动 reported once" || fail "下载器启动 reported $n times"
      events | grep -q '^PlEventTask 下载失败原因 1.code=' && ok "failure reason reported" || fail "no failure reason"
    else
      fail "the retry did not finish"
    fi
  else
    fail "no network tip"
  fi
fi
"$here/tools/peers/nginx.sh" stop "$nginx_dir" >/dev/null 2>&1
nginx -c "$nginx_dir/nginx.conf" -p "$nginx_dir" 2>/dev/null

# 6: the package fails with a Chinese message: shown, back to page 0, and a
# second attempt can succeed.
CASE=package-failure
reset_machine
collector POST /reset >/dev/null
package_script "say Encode=UTF8" "say Progress=0.2" "say Error=磁盘写入失败，请重试" "exit 1"
start_exe
if wait_window OndraVelqor; then
  click page0 defaultInstallBtn OndraVelqor
  if wait_log 'dialog MessageBox2Wnd.xml' 60; then
    dialog_click MessageBox2Wnd closebtn
    wait_log 'page 0' 5 && ok "back to page 0" || fail "not back on page 0"
    package_script "${GOOD_PACKAGE[@]/AutoStartup/UserStartup}"
    LOG_FROM=$(wc -l <"$log")
    click page0 defaultInstallBtn OndraVelqor
    wait_log 'page 3' 60 && ok "the second attempt installed" || fail "the second attempt failed"
    shot package-second-attempt
    click page3 closebtn OndraVelqor
    wait_exit 0
    # The message the user saw is the one the failure report carries.
    events | grep -q '^PlEventTask 安装失败原因 :1.code=1000；2.msg=磁盘写入失败，请重试$' &&
      ok "the package's message was shown and reported" || fail "reason: $(events | grep 安装失败原因)"
  else
    fail "no failure message"
  fi
fi

# 2: custom install: a typed folder, one shortcut box unchecked; the package
# gets that folder and those flags (it echoes its command line).
CASE=custom
reset_machine
package_script "say Encode=UTF8" "cmdline" "install" "say InstPath=\${INSTDIR}" "say State=Success"
start_exe
if wait_window OndraVelqor; then
  click page0 customeBtn OndraVelqor
  wait_log 'page 1' 5 || fail "no custom page"
  sleep 0.3; shot custom-page
  click page1 installDirEdit OndraVelqor
  xdotool key End shift+Home Delete
  xdotool type --delay 30 'C:\OVCustom'
  click page1 createQSCb OndraVelqor
  shot custom-choices
  click page1 customeInstallBtn OndraVelqor
  if wait_log 'dialog MessageBox1Wnd.xml: .*/S' 60; then
    line=$(since | grep 'dialog MessageBox1Wnd.xml: .*/S' | head -1)
    echo "$line" > "$art/custom-cmdline.txt"
    grep -q 'OVCustom\\ONVelqor' <<<"$line" && ok "the package got the typed folder" || fail "folder: $line"
    grep -q -- '-dsc=true' <<<"$line" && grep -q -- '-ssc=false' <<<"$line" && ok "and the shortcut choices" ||
      fail "flags: $line"
    dialog_click MessageBox1Wnd closebtn
    wait_log 'page 3' 60 && ok "custom install finished" || fail "no finished page"
    [ -f "$WINEPREFIX/drive_c/OVCustom/ONVelqor/OndraVelqor.exe" ] || fail "product not in C:\\OVCustom\\ONVelqor"
    shot custom-finished
    click page3 closebtn OndraVelqor
    wait_exit 0
  else
    fail "the package did not report its command line"
  fi
fi

echo "main window e2e: $failures failure(s)"
[ "$failures" -eq 0 ]
