# Sourced by the test, demo and bench scripts: a private 32-bit Wine prefix
# inside the build folder, one persistent wineserver, and a virtual display.
#   ov_wine_up <build-dir>   ov_wine_down
ov_wine_up() {
  export WINEPREFIX="$1/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
  fi
  if [ ! -f "$1/wine-setup.done" ]; then
    # Chinese UI text: map the skin's font name onto an installed CJK font.
    # Version 5 .reg files are UTF-16 (REGEDIT4 would read the names as ANSI).
    # Unmanaged windows: there is no window manager on the virtual display,
    # and Wine would wait about two seconds for one whenever a window hides.
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"微软雅黑"="WenQuanYi Zen Hei"
"Microsoft YaHei"="WenQuanYi Zen Hei"
"宋体"="WenQuanYi Zen Hei"
"SimSun"="WenQuanYi Zen Hei"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
    } > "$1/wine-setup.reg"
    wine regedit /S "$(winepath -w "$1/wine-setup.reg" 2>/dev/null)" >/dev/null 2>&1 && touch "$1/wine-setup.done"
    wineserver -w
  fi
  if [ -z "${DISPLAY:-}" ] || [ -n "${OV_XVFB:-}" ]; then
    local n
    for n in $(seq 90 140); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    OV_XVFB_PID=$!
    export DISPLAY=":$n" OV_XVFB=1
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  # A persistent server, then one throw-away program: Wine's background
  # services start now and do not inherit the test runner's output pipes.
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 || true
}

ov_wine_down() {
  wineserver -k 2>/dev/null || true
  [ -n "${OV_XVFB_PID:-}" ] && kill "$OV_XVFB_PID" 2>/dev/null || true
  unset OV_XVFB_PID
}
