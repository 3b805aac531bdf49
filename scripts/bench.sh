#!/usr/bin/env bash
# scripts/bench.sh [--quick] [more options of bench/bench.py]
# Measures how fast Stowly mirrors folder trees next to Wine's xcopy, cp -a and rsync,
# plus the engine's hot paths, and writes build/bench/results.md, results.csv, runs.csv
# and micro.csv. Installs missing tools, builds the mingw preset when needed. Exits 0
# whatever the figures are; non-zero only when something failed to run or copied wrong.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The build's own packages (MinGW, Wine, GoogleTest), then the benchmark's.
[ -f scripts/deps.sh ] && bash scripts/deps.sh
need=()
command -v rsync >/dev/null || need+=(rsync)
command -v python3 >/dev/null || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  echo "[bench] installing ${need[*]}"
  apt-get install -y "${need[@]}" >/dev/null 2>&1 ||
    { apt-get update >/dev/null && apt-get install -y "${need[@]}" >/dev/null; }
fi

build=build/mingw
if [ ! -f "$build/CMakeCache.txt" ] || ! grep -q engine_bench "$build/Makefile" 2>/dev/null; then
  cmake --preset mingw >/dev/null
fi
# Only what the benchmarks run; make skips it all when nothing changed.
cmake --build --preset mingw --target Stowly engine_bench window_floor >/dev/null

mkdir -p build/bench
exec python3 bench/bench.py --out build/bench --stowly-exe "$build/Stowly.exe" \
  --engine-bench "$root/$build/bench/engine_bench.exe" \
  --window-floor "$root/$build/bench/window_floor.exe" "$@"
