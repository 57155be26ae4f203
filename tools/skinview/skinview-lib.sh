# Sourced by the gallery and the GUI tests: runs skinview.exe under Wine
# (the Wine environment must be up) and reads the layout it prints.
#   sv_start <out-file> <skinview args...>   starts it; SV_PID is its process
#   sv_wait_ready <out-file>                 waits until the window has painted
#   sv_rect <out-file> <control>             "left top right bottom" on screen
#   sv_window <title>                        "x y w h" of the visible X window
#   sv_stop                                  ends it if it still runs
SV_EXE=${SV_EXE:-}

sv_start() {
  local out=$1; shift
  : > "$out"
  wine "$SV_EXE" "$@" > "$out" 2>/dev/null &
  SV_PID=$!
}

sv_wait_ready() {
  local i
  for i in $(seq 200); do
    grep -q '^ready' "$1" 2>/dev/null && return 0
    kill -0 "$SV_PID" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# (Wine's console output ends lines with CR LF.)
sv_rect() { tr -d '\r' <"$1" | awk -v n="$2" '$1 == n { print $2, $3, $4, $5; exit }'; }

sv_window() {
  local id
  id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
  [ -n "$id" ] || return 1
  xdotool getwindowgeometry --shell "$id" | awk -F= '/^X=/{x=$2}/^Y=/{y=$2}/^WIDTH=/{w=$2}/^HEIGHT=/{h=$2}END{print x, y, w, h}'
}

sv_stop() {
  if [ -n "${SV_PID:-}" ]; then
    kill "$SV_PID" 2>/dev/null || true
    wait "$SV_PID" 2>/dev/null || true
  fi
  SV_PID=
}

# Screenshot of a rectangle of the screen ("x y w h").
sv_shot() {
  local x y w h
  read -r x y w h <<<"$2"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
}
