#!/usr/bin/env bash
# Installs what is missing, then configures and builds the cross build (build/mingw).
set -eu
cd "$(dirname "$0")/.."
bash scripts/deps.sh "${1:-}"
[ -f build/mingw/CMakeCache.txt ] || cmake --preset mingw
cmake --build --preset mingw
