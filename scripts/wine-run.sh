#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [ARGS...]
# Runs a Windows program under Wine in a private, headless prefix that lives in the
# build folder (the nearest folder above the program holding CMakeCache.txt), or in
# $WINEPREFIX when that is set. The prefix is made once, with the null display driver
# so windows, controls and timers work with no X server; a wineserver is kept alive
# between runs so later starts are fast. Exits with the program's exit code.
set -u
exe=$1
shift

if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$exe")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = / ] && dir=$(cd "$(dirname "$exe")" && pwd)
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$WINEPREFIX")"
(
  # Two tests starting at once must not both build the prefix.
  flock 9
  if [ ! -f "$WINEPREFIX/.stowly-ready" ]; then
    wineboot -i >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.stowly-ready"
  fi
) 9>"$WINEPREFIX.lock"

wineserver -p120 >/dev/null 2>&1 || true
# Wine's service processes inherit the output handles of the program that starts them
# and outlive it; a file, not the caller's pipe, keeps a caller such as CTest from
# waiting for them.
out=$(mktemp)
wine "$exe" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
