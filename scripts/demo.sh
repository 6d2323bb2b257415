#!/usr/bin/env bash
# The meter on a simulated handset, in one command. Installs what it needs, builds, starts
# the handset simulator on a pty of its own and opens the meter on it:
#   with a display ($DISPLAY): the Linux meter window (GTK 4);
#   with a display and --wine: the Windows program under Wine instead, COM1 mapped to the
#     pty (the 32-bit build where this machine runs 32-bit code, else the 64-bit one);
#   without a display, or where no Wine can run: the meter drawn in this terminal
#     (tovmir-tool monitor --bars).
# With --survey, a survey instead: a simulated walk round a park (gpsd fed a recorded NMEA
# walk by gpsfake, three minutes) with the handset, the meter drawn in this terminal and the
# session logged with its positions (monitor --gps), then the maps of where it received how
# well, in build/survey/: shown with a display, named without.
# Ctrl-C ends everything it started.
#   scripts/demo.sh [--wine | --survey]
#   DEMO_SEED=N  makes the simulated session repeatable
#   DEMO_SURVEY_PACE=S  seconds between the walk's NMEA sentences (0.5, two a second)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

wine= survey=
for a in "$@"; do
  case $a in
    --wine) wine=1 ;;
    --survey) survey=1 ;;
    -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$a' (scripts/demo.sh [--wine | --survey])" ;;
  esac
done
[ -n "$wine" ] && [ -n "$survey" ] && die "--wine and --survey go one at a time"

if [ -n "${DISPLAY:-}" ] && [ -n "$wine" ]; then
  ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}"
  ensure_locales "${WINE_LOCALES[@]}"
elif [ -n "$survey" ]; then
  ensure_packages "${HOST_PACKAGES[@]}" gpsd gpsd-clients python3-gps
else
  ensure_packages "${HOST_PACKAGES[@]}"
fi

# Which Windows program this machine can run, if any.
arch= why=
if [ -n "${DISPLAY:-}" ] && [ -n "$wine" ]; then
  for a in win32 win64; do
    if reason=$(wine_can_run "$a"); then arch=$a; break; fi
    why="${why:+$why; }$reason"
  done
fi

say "building"
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)" --target tovmir-tool tovmir-linux tovmir-icons >/dev/null
if [ -n "$arch" ]; then
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" -j "$(nproc)" --target tovmir >/dev/null
fi

work=$(mktemp -d)
sim_pid= gps_pid= monitor_pid=
cleanup() {
  [ -n "$monitor_pid" ] && kill "$monitor_pid" 2>/dev/null && wait "$monitor_pid" 2>/dev/null
  # gpsfake ends its gpsd when interrupted, not when killed.
  [ -n "$gps_pid" ] && kill -INT "$gps_pid" 2>/dev/null && wait "$gps_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

seed_args=()
[ -n "${DEMO_SEED:-}" ] && seed_args=(--seed "$DEMO_SEED")
build/host/tovmir-tool sim "${seed_args[@]}" > "$work/sim.out" &
sim_pid=$!
for _ in $(seq 100); do  # the simulator names its pty on its first line
  [ -s "$work/sim.out" ] && break
  kill -0 "$sim_pid" 2>/dev/null || die "the simulator did not start"
  sleep 0.05
done
device=$(head -n 1 "$work/sim.out")
[ -n "$device" ] || die "the simulator did not name its pty"

if [ -n "$survey" ]; then
  # gpsd on a port of its own, fed the walk; it waits for a client before it plays it, and
  # ends two seconds after the walk's end.
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  gpsfake -q -1 -P "$port" -c "${DEMO_SURVEY_PACE:-0.5}" --timeout 2 sim/survey-walk.nmea \
    > "$work/gpsfake.out" 2>&1 &
  gps_pid=$!
  hex=$(printf ':%04X ' "$port")
  for _ in $(seq 200); do  # until it listens (a connection would be its client)
    grep -q "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null && break
    kill -0 "$gps_pid" 2>/dev/null || die "gpsfake did not start: $(cat "$work/gpsfake.out")"
    sleep 0.05
  done
  maps=build/survey
  mkdir -p "$maps"
  rm -f "$maps"/survey.*
  say "a survey: the simulated handset at $device, walked round a park (gpsd on port $port);" \
      "the session goes to $maps/survey.jsonl; Ctrl-C ends it"
  build/host/tovmir-tool monitor --bars --gps="127.0.0.1:$port" --log "$maps/survey.jsonl" \
    "$device" &
  monitor_pid=$!
  wait "$gps_pid" || true  # the walk's end
  gps_pid=
  kill "$monitor_pid"
  wait "$monitor_pid" || true
  monitor_pid=
  build/host/tovmir-tool map "$maps/survey.jsonl" --geojson "$maps/survey.geojson" \
    --gpx "$maps/survey.gpx" --kml "$maps/survey.kml" --csv "$maps/survey.csv" \
    --png "$maps/survey.png"
  echo "The survey's maps: $maps/survey.png, .geojson and .kml (QGIS, Google Earth), .gpx," \
       ".csv (a spreadsheet); its log: $maps/survey.jsonl."
  if [ -n "${DISPLAY:-}" ]; then
    say "showing $maps/survey.png; close it (or Ctrl-C) to end"
    display -title "tovmir survey" "$maps/survey.png"
  fi
elif [ -n "${DISPLAY:-}" ] && [ -z "$wine" ]; then
  say "the meter (build/host/linux/tovmir) on the simulated handset at $device; Ctrl-C ends it"
  build/host/linux/tovmir "$device"
elif [ -n "$arch" ]; then
  # Without a window manager Wine's own virtual desktop draws the frame and system menu.
  desktop=()
  if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    desktop=(--desktop 640x480)
  fi
  bits=32; [ "$arch" = win64 ] && bits=64
  say "the meter (the ${bits}-bit tovmir.exe, build/$arch, under Wine) on the simulated" \
      "handset at $device; Ctrl-C ends it"
  python3 tools/wine/harness.py --prefix "build/demo-wine-$arch" --use-display \
    "${desktop[@]}" --map "COM1=$device" --timeout 0 -- "build/$arch/tovmir.exe" COM1
else
  if [ -n "${DISPLAY:-}" ]; then
    echo "No Wine can run here ($why): showing the meter in this terminal instead."
  else
    echo "No display (DISPLAY is not set): showing the meter in this terminal instead."
  fi
  build/host/tovmir-tool monitor --bars "$device"
fi
