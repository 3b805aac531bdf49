#!/usr/bin/env bash
# Installs what is missing, builds, and starts Stowly.exe under Wine. Arguments are
# passed on (for example /L to keep the settings beside the exe, /S for a silent run).
set -eu
cd "$(dirname "$0")/.."
bash scripts/build.sh run
exe="$PWD/build/mingw/Stowly.exe"
export WINEPREFIX="$PWD/build/mingw/wineprefix-desktop" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -n "${DISPLAY:-}" ]; then
  exec wine "$exe" "$@"
fi
echo "There is no display (DISPLAY is not set), so Stowly runs on a virtual screen (Xvfb)."
out="$PWD/build/stowly-screen.png"
shot="$PWD/../shared/tools/screenshot"
if [ -x "$shot" ]; then
  SHOT_WINEPREFIX="$WINEPREFIX" "$shot" "$out" 15 "$exe" "$@" >/dev/null
else
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c \
    "wine explorer /desktop=stowly,1000x740 '$exe' $* & sleep 15; import -window root '$out'; wineserver -k"
fi
echo "Its window after 15 seconds: $out (open it with any image viewer)."
echo "To use it interactively, run this command on a machine with a display (or under x11vnc/VNC)."
