#!/bin/bash
# Throw-away Wine prefixes for the test run.
#   wine-prefixes.sh ensure ROOT NAME   make ROOT/prefixes/NAME and boot it
#   wine-prefixes.sh reboot ROOT NAME   end NAME's wineserver and boot it
#                                       again, keeping its files
#   wine-prefixes.sh stop ROOT          end every wineserver under ROOT
#   wine-prefixes.sh reset ROOT         stop, throw every prefix away, and
#                                       make the template if there is none
#   wine-prefixes.sh system-dlls PREFIX DLL...
#                                       put each DLL into PREFIX's system32
#   wine-prefixes.sh no-debugger PREFIX make a crash end its process with a
#                                       failing exit code (see no_debugger)
set -u
cmd=$1 root=$2
wine=$(cd "$(dirname "$0")" && pwd)/wine64.sh
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

# An unhandled exception starts the debugger named under AeDebug (Wine's
# own, winedbg --auto), which ends the process after its dump with the
# exception code or, when it has already moved on from the faulting thread,
# with 0: a crash could pass for success. With an empty command no debugger
# starts and the process ends with the exception code, always (its low byte
# on the Linux side: 5 for an access violation).
no_debugger() {
  WINEPREFIX=$1 "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /t REG_SZ /d '' /f </dev/null >/dev/null 2>&1 9>&-
}

# Every subcommand that makes, boots or removes prefixes holds ROOT/.lock.
lock() {
  mkdir -p "$root"
  exec 9>"$root/.lock"
  flock 9
}

# The template is booted once per build tree (it takes the better part of a
# minute), by the "wine-setup" fixture before any test starts, so that no
# test's time-out pays for it. A template of an older make-up (an older
# number in .ready) is made anew.
template_version=2
make_template() {
  [ "$(cat "$root/template/.ready" 2>/dev/null)" = "$template_version" ] && return 0
  rm -rf "$root/template"
  # No Mono or Gecko installers: nothing here needs them.
  WINEPREFIX=$root/template WINEDLLOVERRIDES="mscoree,mshtml=" \
    setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
  no_debugger "$root/template"
  WINEPREFIX=$root/template wineserver -w
  echo "$template_version" >"$root/template/.ready"
}

# Starts the prefix's wineserver and boots the prefix.
boot() {
  WINEPREFIX=$1 setsid wineserver -p </dev/null >/dev/null 2>&1 9>&-
  WINEPREFIX=$1 setsid "$wine" cmd /c exit </dev/null >/dev/null 2>&1 9>&-
  touch "$1/.booted"
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
    boot "$prefix"
  fi
  ;;
reboot)
  # Settings that Wine reads only as a prefix boots (its desktop's) take
  # effect. The registry is saved as the server ends.
  prefix=$root/prefixes/$3
  lock
  [ -f "$prefix/.booted" ] || exit 1
  WINEPREFIX=$prefix wineserver -k 2>/dev/null
  WINEPREFIX=$prefix wineserver -w 2>/dev/null
  boot "$prefix"
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
no-debugger)
  no_debugger "$root" || exit 1
  ;;
esac
exit 0
