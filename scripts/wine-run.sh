#!/usr/bin/env bash
# wine-run.sh PROGRAM.exe [ARGS...]
# wine-run.sh --prepare          (only makes $WINEPREFIX ready)
# Runs a Windows program under Wine in a private, headless prefix that lives in the
# build folder (the nearest folder above the program holding CMakeCache.txt), or in
# $WINEPREFIX when that is set. The prefix is made once, with the null display driver
# so windows, controls and timers work with no X server (STOWLY_WINE_GRAPHICS=x11 keeps
# the normal driver), with Windows' own faces, and with STOWLY_DPI (default 96) as its
# system DPI. A wineserver is kept alive between runs so later starts are fast. Exits
# with the program's exit code.
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
graphics=${STOWLY_WINE_GRAPHICS:-null}
[ "$graphics" = null ] && unset DISPLAY WAYLAND_DISPLAY

mkdir -p "$(dirname "$WINEPREFIX")"
(
  # Two tests starting at once must not both build the prefix.
  flock 9
  if [ ! -f "$WINEPREFIX/.stowly-ready" ]; then
    wineboot -i >/dev/null 2>&1
    if [ "$graphics" = null ]; then
      wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
    fi
    if [ -n "${STOWLY_DPI:-}" ]; then
      wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$STOWLY_DPI" /f \
        >/dev/null 2>&1
    fi
    # The next wineserver reads the registry afresh.
    wineserver -w
    touch "$WINEPREFIX/.stowly-ready"
  fi
  # Debian's Wine does not load the faces of the fonts-wine package from its own data
  # folder; copied into the prefix they stand in for MS Sans Serif, Tahoma and Marlett.
  fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d /usr/share/wine/fonts ] && [ ! -f "$fonts/marlett.ttf" ]; then
    cp /usr/share/wine/fonts/* "$fonts/"
  fi
) 9>"$WINEPREFIX.lock"
[ "$exe" = --prepare ] && exit 0

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
