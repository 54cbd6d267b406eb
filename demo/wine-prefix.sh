# Sourced by run-demo.sh and the benchmark scripts: a throw-away Wine prefix
# and a checked way to run programs in it.
#
# new_wine_prefix NAME [TEMPLATE]
#   Sets `wine` (the 64-bit loader, cmake/wine64.sh), `work` (a temporary
#   folder removed with the prefix's wineserver when the script exits) and
#   exports WINEPREFIX ($work/prefix), WINEARCH and WINEDEBUG. The prefix
#   is a copy of TEMPLATE (a booted prefix of cmake/wine-prefixes.sh) when
#   given, else made with wineboot. Either way a crash ends a program with a
#   failing exit code (no debugger starts, see wine-prefixes.sh). Its
#   wineserver is then started detached, so that it does not hold the
#   script's output open.
#
# run_checked PATTERN PROGRAM [ARGUMENT...]
#   Runs a program in the prefix with its output shown (carriage returns
#   dropped). The script fails, saying why, unless the program ends with
#   exit code 0 and, when PATTERN is not empty, a line of its output matches
#   PATTERN (grep -E): a program that crashes or stops before its closing
#   line fails the script.
#
# script_failed REASON
#   Ends the script with "SCRIPT: failed: REASON" and exit code 1.

new_wine_prefix() {
  wine=$(cd "$(dirname "${BASH_SOURCE[0]}")/../cmake" && pwd)/wine64.sh
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
  if [ -n "${2:-}" ]; then
    cp -a "$2" "$WINEPREFIX"
  else
    WINEDLLOVERRIDES="mscoree,mshtml=" setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$(dirname "${BASH_SOURCE[0]}")/../cmake/wine-prefixes.sh" no-debugger "$WINEPREFIX" ||
      script_failed "the prefix's debugger setting was not written"
    wineserver -w
  fi
  setsid wineserver -p </dev/null >/dev/null 2>&1
}

script_failed() {
  echo "$(basename "$0"): failed: $1" >&2
  exit 1
}

run_checked() {
  local pattern=$1 rc=0
  shift
  "$wine" "$@" </dev/null | tr -d '\r' | tee "$work/output" || rc=${PIPESTATUS[0]}
  [ "$rc" = 0 ] || script_failed "$* ended with exit code $rc"
  [ -z "$pattern" ] || grep -Eq -- "$pattern" "$work/output" ||
    script_failed "$* ended without a line matching '$pattern'"
}
