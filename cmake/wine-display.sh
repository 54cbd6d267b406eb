#!/bin/bash
# One virtual X display (Xvfb) per test root, for tests that open windows.
#   wine-display.sh start ROOT   start it unless it runs; print its DISPLAY
#   wine-display.sh stop ROOT    end it
# Wine's desktop process connects to the display when a prefix boots, so the
# display must be up (and DISPLAY set) before a prefix's wineserver starts.
set -u
cmd=$1 root=$2
mkdir -p "$root"
pidfile=$root/xvfb.pid
numfile=$root/xvfb.display
exec 9>"$root/.display-lock"
flock 9
running() { [ -s "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null && [ -s "$numfile" ]; }
case $cmd in
start)
  if ! running; then
    rm -f "$numfile"
    # -displayfd picks a free display number and writes it once the server
    # accepts connections.
    setsid Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp 8>"$numfile" \
      </dev/null >/dev/null 2>&1 9>&- &
    echo $! >"$pidfile"
    for _ in $(seq 100); do [ -s "$numfile" ] && break; sleep 0.1; done
    running || { echo "Xvfb did not start" >&2; exit 1; }
  fi
  echo ":$(tr -d '[:space:]' <"$numfile")"
  ;;
stop)
  if [ -s "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null
  fi
  rm -f "$pidfile" "$numfile"
  ;;
esac
exit 0
