#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
# Exits non-zero when anything fails.
set -eu
cd "$(dirname "$0")/.."
bash scripts/build.sh
export WINEPREFIX="$PWD/build/mingw/wineprefix"
status=0
ctest --preset mingw || status=$?
wineserver -k 2>/dev/null || true
exit $status
