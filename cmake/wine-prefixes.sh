#!/bin/bash
# Throw-away Wine prefixes for the test run.
#   wine-prefixes.sh ensure ROOT NAME   make ROOT/prefixes/NAME and boot it
#   wine-prefixes.sh stop ROOT          end every wineserver under ROOT
#   wine-prefixes.sh reset ROOT         stop, then throw every prefix away
#   wine-prefixes.sh system-dlls PREFIX DLL...
#                                       put each DLL into PREFIX's system32
set -u
cmd=$1 root=$2
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
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

case $cmd in
ensure)
  mkdir -p "$root/prefixes"
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
    copy_template "$root/template" "$prefix"
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
