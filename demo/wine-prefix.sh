# Sourced by run-demo.sh and bench/run-bench.sh: a throw-away Wine prefix.
#
# new_wine_prefix NAME [TEMPLATE]
#   Sets `wine` (the 64-bit loader), `work` (a temporary folder removed with
#   the prefix's wineserver when the script exits) and exports WINEPREFIX
#   ($work/prefix), WINEARCH and WINEDEBUG. The prefix is a copy of TEMPLATE
#   (a booted prefix) when given, else made with wineboot. Its wineserver is
#   then started detached, so that it does not hold the script's output open.

new_wine_prefix() {
  wine="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake/wine64.sh"
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
  trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
  if [ -n "${2:-}" ]; then
    cp -a "$2" "$WINEPREFIX"
  else
    WINEDLLOVERRIDES="mscoree,mshtml=" setsid "$wine" wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
  fi
  setsid wineserver -p </dev/null >/dev/null 2>&1
}
