#!/usr/bin/env bash
# The meter on a simulated handset, in one command. Installs what it needs, builds, starts
# the handset simulator on a pty of its own and opens the meter on it:
#   with a display ($DISPLAY): the Linux meter window (GTK 4);
#   with a display and --wine: the Windows program under Wine instead, COM1 mapped to the
#     pty (the 32-bit build where this machine runs 32-bit code, else the 64-bit one);
#   without a display, or where no Wine can run: the meter drawn in this terminal
#     (tovmir-tool monitor --bars).
# Ctrl-C ends everything it started.
#   scripts/demo.sh [--wine]
#   DEMO_SEED=N  makes the simulated session repeatable
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

wine=
for a in "$@"; do
  case $a in
    --wine) wine=1 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) die "unknown argument '$a' (scripts/demo.sh [--wine])" ;;
  esac
done

if [ -n "${DISPLAY:-}" ] && [ -n "$wine" ]; then
  ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}"
  ensure_locales "${WINE_LOCALES[@]}"
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
sim_pid=
cleanup() {
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

if [ -n "${DISPLAY:-}" ] && [ -z "$wine" ]; then
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
