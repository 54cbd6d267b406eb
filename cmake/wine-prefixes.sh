#!/bin/bash
# Throw-away Wine prefixes for the test run.
#   wine-prefixes.sh ensure ROOT NAME   make ROOT/prefixes/NAME and boot it
#   wine-prefixes.sh stop ROOT          end every wineserver under ROOT
#   wine-prefixes.sh reset ROOT         stop, throw every prefix away, and
#                                       make the template if there is none
#   wine-prefixes.sh system-dlls PREFIX DLL...
#                                       put each DLL into PREFIX's system32
set -u
cmd=$1 root=$2
wine="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64.sh"
export WINEDEBUG=-all WINEARCH=win64

# A prefix is ~700 MB, nearly all of it Wine's own DLLs, which nothing
# writes. Those folders are hard-linked from the template; the rest (registry,
# user folders) is copied, so that every prefix is a few MB.
copy_template() {
  local from=$1 to=$2 shared=(drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs)
  local excludes=() d
  for d in "${shared[@]}"; do excludes+=("--exclude=./$d"); done
  mkdir -p "$to"
  tar -C "$from" "${excludes[@]}" -cf - . | tar -C "$to" -xf -
  for d in "${shared[@]}"; do
    [ -d "$from/$d" ] && cp -al "$from/$d" "$to/$d"
  done
}

# Every subcommand that makes, boots or removes prefixes holds ROOT/.lock.
lock() {
  mkdir -p "$root"
  exec 9>"$root/.lock"
  flock 9
}

# The template is booted once per build tree (it takes the better part of a
# minute), by the "wine-setup" fixture before any test starts, so that no
# test's time-out pays for it.
make_template() {
  [ -f "$root/template/.ready" ] && return 0
  rm -rf "$root/template"
  # No Mono or Gecko installers: nothing here needs them.
  WINEPREFIX=$root/template WINEDLLOVERRIDES="mscoree,mshtml=" \
    setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
  WINEPREFIX=$root/template wineserver -w
  touch "$root/template/.ready"
}

stop_all() {
  for p in "$root"/prefixes/*/; do
    [ -f "$p/.booted" ] || continue
    WINEPREFIX=${p%/} wineserver -k 2>/dev/null
    rm -f "$p/.booted"
  done
}

case $cmd in
ensure)
  name=$3
  prefix=$root/prefixes/$name
  lock
  mkdir -p "$root/prefixes"
  make_template
  if [ ! -f "$prefix/.booted" ]; then
    rm -rf "$prefix"
    copy_template "$root/template" "$prefix"
    WINEPREFIX=$prefix setsid wineserver -p </dev/null >/dev/null 2>&1 9>&-
    WINEPREFIX=$prefix setsid "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&-
    touch "$prefix/.booted"
  fi
  ;;
stop)
  lock
  stop_all
  ;;
reset)
  lock
  stop_all
  rm -rf "$root/prefixes"
  make_template
  ;;
system-dlls)
  # Doubles of platform DLLs go where shipped code loads platform DLLs from.
  # The folder's files are hard links shared with the template and every
  # other prefix: unlink the placeholder first, never write through it.
  dir=$root/drive_c/windows/system32
  shift 2
  for dll; do
    rm -f "$dir/$(basename "$dll")"
    cp "$dll" "$dir/" || exit 1
  done
  ;;
esac
exit 0
