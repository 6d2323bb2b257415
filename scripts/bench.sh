#!/usr/bin/env bash
# Installs what the benchmarks need, builds the Windows program and its helper, and runs
# every benchmark of tools/bench/ against build/win32/tovmir.exe. They print figures; a
# figure off its goal does not fail the run.
#   scripts/bench.sh               all of them
#   scripts/bench.sh latency ...   one of them, with run.py's options
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${WIN_PACKAGES[@]}" build-essential cmake googletest libx11-dev libxdamage-dev
ensure_japanese_locale

say "building preset win32"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$(nproc)" --target tovmir bench_win

[ $# -eq 0 ] && set -- all
exec python3 tools/bench/run.py "$@" --exe build/win32/tovmir.exe
