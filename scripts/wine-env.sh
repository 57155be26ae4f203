# Sourced by the test, demo and bench scripts: a private Wine prefix inside
# the build folder (32-bit, or 64-bit for the x86_64 build, scripts/arch.sh),
# one persistent wineserver, and a virtual display.
#   ov_wine_up <runtime-build-dir>   ov_wine_down
#   OV_WINE_DPI   the screen DPI of the prefix (LogPixels; default 96): 120, 144
#                 and 192 are 125, 150 and 200 %
#   ov_wine_dpi <dpi>                 the same for programs started from now on
. "$(dirname "${BASH_SOURCE[0]}")/arch.sh"

ov_wine_up() {
  local arch log
  arch=$(ov_runtime_arch) || return 1
  export WINEPREFIX="$(realpath -m "$1")/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ "$arch" = x86_64 ]; then
    # Every "wine" (and Wine's own wineboot, winepath, ...) is the 64-bit loader.
    case ":$PATH:" in
      *":$OV_WINE64_BIN:"*) ;;
      *) export PATH="$OV_WINE64_BIN:$PATH";;
    esac
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  else
    export WINEARCH=win32
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log=$(wineboot --init 2>&1) || true
    wineserver -w || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wineboot failed to create the $WINEARCH prefix $WINEPREFIX: ${log:-no message}" >&2
      return 1
    fi
  fi
  # Prefix settings, applied again whenever this list changes. regedit reads
  # a REGEDIT4 file as ANSI, which garbles the Chinese font name: the file
  # handed to it is version 5, in UTF-16.
  local settings="$1/wine-settings.reg"
  cat > "$settings" <<'REG'
Windows Registry Editor Version 5.00

; Chinese UI text: map the skin's font names onto an installed CJK font.
[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"微软雅黑"="WenQuanYi Micro Hei"
"Microsoft YaHei"="WenQuanYi Micro Hei"
"宋体"="WenQuanYi Micro Hei"
"SimSun"="WenQuanYi Micro Hei"

; A crashing program prints its backtrace and ends instead of waiting on a dialog.
[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

; Unmanaged windows: there is no window manager on the virtual display, and
; Wine would wait about two seconds for one whenever a window is hidden.
[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
  ov_dpi_reg "${OV_WINE_DPI:-96}" >> "$settings"
  if ! cmp -s "$settings" "$WINEPREFIX/.ov-settings.reg"; then
    { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$settings"; } > "$settings.utf16"
    wine regedit /S "$(winepath -w "$settings.utf16" 2>/dev/null)" >/dev/null 2>&1 || true
    wineserver -w
    cp "$settings" "$WINEPREFIX/.ov-settings.reg"
  fi
  # A script called from another that already set Wine up (the demo runs the
  # gallery) shares its display and server and leaves both to it.
  if [ -n "${OV_WINE_OWNER:-}" ] && [ "$OV_WINE_OWNER" != "$$" ] && [ "${OV_WINE_PREFIX_OWNED:-}" = "$WINEPREFIX" ]; then
    return 0
  fi
  export OV_WINE_OWNER=$$ OV_WINE_PREFIX_OWNED=$WINEPREFIX
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 140); do [ -e "/tmp/.X11-unix/X$n" ] || break; done
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    OV_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  # A persistent server, then one throw-away program: Wine's background
  # services start now and do not inherit the test runner's output pipes.
  wineserver -p 2>/dev/null || true  # an already running server is fine
  wine cmd /c exit >/dev/null 2>&1 || true
}

# The screen DPI as Wine reads it when a program starts: the user's value
# (what winecfg writes) and the machine's; wineboot writes 96 into both.
ov_dpi_reg() {  # <dpi>
  local hex
  hex=$(printf '%08x' "$1")
  printf '\n; Screen DPI (LogPixels): %s\n' "$1"
  printf '[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"LogPixels"=dword:%s\n\n' "$hex"
  printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts]\n'
  printf '"LogPixels"=dword:%s\n' "$hex"
}

ov_wine_dpi() {  # <dpi>
  local file
  file=$(mktemp --suffix=.reg)
  { printf 'REGEDIT4\n'; ov_dpi_reg "$1"; } > "$file"
  wine regedit /S "$(winepath -w "$file" 2>/dev/null)" >/dev/null 2>&1
  rm -f "$file"
  # The prefix's settings file no longer says what the prefix holds.
  rm -f "$WINEPREFIX/.ov-settings.reg"
}

ov_wine_down() {
  [ "${OV_WINE_OWNER:-}" = "$$" ] || return 0
  unset OV_WINE_OWNER OV_WINE_PREFIX_OWNED
  wineserver -k 2>/dev/null || true
  [ -n "${OV_XVFB_PID:-}" ] && kill "$OV_XVFB_PID" 2>/dev/null || true
  unset OV_XVFB_PID
}
