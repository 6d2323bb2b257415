#!/usr/bin/env bash
# Installs what the benchmarks need, builds the programs, and runs every benchmark of
# tools/bench/: against each Windows build this machine can run (the 32-bit and the 64-bit
# tovmir.exe, or the 64-bit one alone where 32-bit code cannot run), then against the Linux
# meter window, and the station's monitor (scrapes beside full-rate bytes; with and without
# --gps) and the survey's map. They print figures; a figure off its goal does not fail the
# run.
#   scripts/bench.sh               all of them (but the hour-long one below)
#   scripts/bench.sh latency ...   one of them, with the runners' options
#   scripts/bench.sh station       the station's scrapes alone
#   scripts/bench.sh station-memory [--minutes 60]   the station's memory over an hour
#   scripts/bench.sh survey        monitor with and without --gps; map of a 24-hour log
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}" libx11-dev libxdamage-dev \
  picocom gpsd gpsd-clients python3-gps
ensure_locales "${WINE_LOCALES[@]}"

[ $# -eq 0 ] && set -- all
case $1 in
  station|station-memory|survey)
    say "building preset host"
    cmake --preset host >/dev/null
    cmake --build --preset host -j "$(nproc)" --target tovmir-tool
    bench=$1; shift
    case $bench in
      station) exec python3 tools/bench/run_station.py scrape "$@" ;;
      station-memory) exec python3 tools/bench/run_station.py memory "$@" ;;
      survey) python3 tools/bench/run_station.py gps "$@"
              exec python3 tools/bench/run_station.py map "$@" ;;
    esac
    ;;
esac
measured=0
for preset in win32 win64; do
  if ! why=$(wine_can_run "$preset"); then
    say "not measuring build/$preset/tovmir.exe: $why"
    continue
  fi
  say "building preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target tovmir bench_win
  python3 tools/bench/run.py "$@" --exe "build/$preset/tovmir.exe"
  measured=$((measured + 1))
done
[ "$measured" -gt 0 ] || say "no build of tovmir.exe can run under Wine here"

say "building preset host"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" --target tovmir-linux tovmir-tool
bench=$1; shift
[ "$bench" = gdi ] || python3 tools/bench/run_linux.py "$bench" "$@"
if [ "$bench" = all ]; then
  for station_bench in scrape gps map; do python3 tools/bench/run_station.py "$station_bench"; done
fi
