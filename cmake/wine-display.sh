#!/bin/bash
# One virtual X display (Xvfb) per test prefix, for tests that open windows.
#   wine-display.sh start ROOT NAME   start prefix NAME's display unless it
#                                     runs; print its DISPLAY
#   wine-display.sh stop ROOT         end every display under ROOT
# Wine's desktop process connects to the display when a prefix boots, so the
# display must be up (and DISPLAY set) before a prefix's wineserver starts.
#
# A display of its own for each prefix: programs of different prefixes run
# side by side, and on a shared display a window shown by one takes the
# input focus from the windows of another (there is no window manager), so
# that a case that checks where the focus is would see none now and then.
set -u
cmd=$1 root=$2

# Each runs under the display's lock.
running() { [ -s "$1/xvfb.pid" ] && kill -0 "$(cat "$1/xvfb.pid")" 2>/dev/null && [ -s "$1/xvfb.display" ]; }
start() {
  local pidfile=$1/xvfb.pid numfile=$1/xvfb.display
  if ! running "$1"; then
    rm -f "$numfile"
    # -displayfd picks a free display number and writes it once the server
    # accepts connections.
    setsid Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp 8>"$numfile" \
      </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$pidfile"
    for _ in $(seq 100); do [ -s "$numfile" ] && break; sleep 0.1; done
    running "$1" || { echo "Xvfb did not start" >&2; return 1; }
  fi
  echo ":$(tr -d '[:space:]' <"$numfile")"
}
stop() {
  [ -s "$1/xvfb.pid" ] && kill "$(cat "$1/xvfb.pid")" 2>/dev/null
  rm -f "$1/xvfb.pid" "$1/xvfb.display"
}

case $cmd in
start)
  dir=$root/displays/$3
  mkdir -p "$dir"
  exec 9>"$dir/.display-lock"
  flock 9
  start "$dir" || exit 1
  ;;
stop)
  for dir in "$root"/displays/*/; do
    [ -d "$dir" ] || continue
    (
      exec 9>"$dir/.display-lock"
      flock 9
      stop "${dir%/}"
    )
  done
  ;;
esac
exit 0
