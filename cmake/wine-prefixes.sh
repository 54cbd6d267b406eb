#!/bin/bash
# Throw-away Wine prefixes for the test run.
#   wine-prefixes.sh ensure ROOT NAME   make ROOT/prefixes/NAME and boot it
#   wine-prefixes.sh stop ROOT          end every wineserver under ROOT
#   wine-prefixes.sh reset ROOT         stop, then throw every prefix away
set -u
cmd=$1 root=$2
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
export WINEDEBUG=-all WINEARCH=win64
mkdir -p "$root/prefixes"

case $cmd in
ensure)
  name=$3
  prefix=$root/prefixes/$name
  exec 9>"$root/.lock"
  flock 9
  if [ ! -f "$root/template/.ready" ]; then
    rm -rf "$root/template"
    # No Mono or Gecko installers: nothing here needs them.
    WINEPREFIX=$root/template WINEDLLOVERRIDES="mscoree,mshtml=" \
      setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    WINEPREFIX=$root/template wineserver -w
    touch "$root/template/.ready"
  fi
  if [ ! -f "$prefix/.booted" ]; then
    rm -rf "$prefix"
    cp -a "$root/template" "$prefix"
    WINEPREFIX=$prefix setsid wineserver -p </dev/null >/dev/null 2>&1 9>&-
    WINEPREFIX=$prefix setsid "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&-
    touch "$prefix/.booted"
  fi
  ;;
stop)
  for p in "$root"/prefixes/*/; do
    [ -f "$p/.booted" ] || continue
    WINEPREFIX=${p%/} wineserver -k 2>/dev/null
    rm -f "$p/.booted"
  done
  ;;
reset)
  "$0" stop "$root"
  rm -rf "$root/prefixes"
  ;;
esac
exit 0
