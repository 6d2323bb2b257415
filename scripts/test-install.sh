#!/usr/bin/env bash
# The Debian packages as a new user gets them: installed with apt-get into a scratch Debian 12
# root (debootstrap, minbase, with systemd) with their dependencies from the archive, the
# programs run (--version; the meter window on an X display, titled アンテナ; the station's
# systemd service verified), tovmir-tool upgraded and removed with its maintainer scripts'
# calls of systemctl recorded (none where systemd does not run), then purged, after which
# nothing of theirs is left and the root holds the packages it held before.
#   scripts/test-install.sh [DIST]      (default dist/, made by scripts/package.sh)
# As root. The bare root is made once and kept (build/install-root-systemd.tar); a run takes
# about a minute here, most of it fetching GTK 4. scripts/test.sh runs it (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

[ "$(id -u)" -eq 0 ] || die "the scratch root takes root: run this as root"
dist=$(realpath "${1:-dist}")
debs=("$dist"/tovmir_*_amd64.deb "$dist"/tovmir-tool_*_amd64.deb)
for deb in "${debs[@]}"; do [ -f "$deb" ] || die "no $deb: run scripts/package.sh first"; done
ensure_packages debootstrap xvfb xauth x11-utils

release=$(. /etc/os-release && echo "$VERSION_CODENAME")
# The archive this machine's apt uses.
mirror=$(cat /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null \
         | sed -n 's/^URIs: *\([^ ]*\).*/\1/p; s/^deb  *\(\[[^]]*\] *\)\?\(http[^ ]*\) .*/\2/p' \
         | head -n 1 || true)
[ -n "$mirror" ] || die "no Debian archive found in apt's sources"
# systemd, to check the station's service as systemd reads it where it is installed.
base=build/install-root-systemd.tar
if [ ! -f "$base" ]; then
  say "making a bare $release root (debootstrap --variant=minbase, with systemd; once)"
  made=$(mktemp -d)
  debootstrap --variant=minbase --include=systemd "$release" "$made" "$mirror" >/dev/null
  mkdir -p build
  tar --numeric-owner -C "$made" -cf "$base.part" . && mv "$base.part" "$base"
  rm -rf "$made"
fi

root=$(mktemp -d)
chmod 755 "$root"  # apt's own user reads its lists there
display= xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  for m in tmp/.X11-unix dev/pts dev proc; do
    mountpoint -q "$root/$m" && umount -l "$root/$m"
  done
  rm -rf "$root"
}
trap cleanup EXIT
tar --numeric-owner -C "$root" -xf "$base"
mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
# systemd does not run in the root: a stand-in for systemctl records what the maintainer
# scripts ask of it, first of it (PATH) for them and for deb-systemd-invoke.
mkdir -p "$root/tmp/stand-in"
printf '#!/bin/sh\necho "$*" >> /tmp/systemctl.calls\n' > "$root/tmp/stand-in/systemctl"
chmod 755 "$root/tmp/stand-in/systemctl"
rm -rf "$root/run/systemd/system"
in_root() {
  chroot "$root" env -i PATH=/tmp/stand-in:/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"
}
installed() { in_root dpkg-query -W -f '${Package} ${Status}\n' | sort; }

before=$(installed)
mkdir -p "$root/tmp/debs"
cp "${debs[@]}" "$root/tmp/debs/"
say "installing ${debs[*]##*/} with apt-get"
# apt's own download user cannot reach into a root under this machine's temporary folder;
# in a scratch root, root may download.
apt_get() { in_root env DEBIAN_FRONTEND=noninteractive apt-get -o APT::Sandbox::User=root -q "$@"; }
apt_get update >/dev/null
inside=()
for deb in "${debs[@]}"; do inside+=("/tmp/debs/${deb##*/}"); done
apt_get install -y "${inside[@]}" >/dev/null 2> >(grep -v '^debconf: delaying' >&2)

fail() { echo "test-install: $*" >&2; exit 1; }
# calls_were WHAT LINES...: the stand-in was asked exactly LINES since the last check.
calls_were() {
  local what=$1 got
  shift
  got=$(cat "$root/tmp/systemctl.calls" 2>/dev/null || true)
  rm -f "$root/tmp/systemctl.calls"
  [ "$got" = "$(printf '%s\n' "$@")" ] || fail "$what: systemctl was asked '$got', not '$*'"
}
calls_were "installing where systemd does not run"
for program in tovmir tovmir-tool; do
  got=$(in_root "$program" --version) || fail "$program --version failed"
  say "$got"
done

# The station's service as systemd reads it, for a serial port of the root's own.
unit=tovmir-monitor@ttyS0.service
in_root systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify $unit"
exposure=$(in_root systemd-analyze security --offline=true --no-pager \
             /usr/lib/systemd/system/tovmir-monitor@.service | tail -n 1)
say "systemd verifies $unit; systemd-analyze security: ${exposure#→ }"

# The window, on an X server of the host's whose socket the root is given.
for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || { display=:$n; break; }; done
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
mkdir -p "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
in_root env DISPLAY="$display" GSK_RENDERER=cairo NO_AT_BRIDGE=1 tovmir /dev/null 2>/dev/null &
meter=$!
shown=
for _ in $(seq 300); do
  # LC_ALL: in the C locale xwininfo would not print the title as UTF-8.
  if LC_ALL=C.UTF-8 xwininfo -display "$display" -root -children 2>/dev/null \
       | grep -q '"アンテナ"'; then
    shown=yes
    break
  fi
  sleep 0.1
done
kill "$meter" 2>/dev/null || true
wait "$meter" 2>/dev/null || true
[ -n "$shown" ] || fail "no window titled アンテナ on the display"
say "the meter window opened, titled アンテナ"

files=$(in_root dpkg -L tovmir tovmir-tool | sort -u)

# As if systemd ran: an upgrade (the same version again) restarts the station's running
# instances, a removal stops them; systemd is told of the unit file each time.
mkdir -p "$root/run/systemd/system"
in_root dpkg -i "/tmp/debs/${debs[1]##*/}" >/dev/null
calls_were "upgrading tovmir-tool" "--system daemon-reload" "try-restart tovmir-monitor@*.service"
in_root dpkg --remove tovmir-tool >/dev/null
calls_were "removing tovmir-tool" "stop tovmir-monitor@*.service" "--system daemon-reload"
rm -r "$root/run/systemd/system"
say "tovmir-tool's maintainer scripts: systemd told, instances restarted and stopped"
# What came with them goes with them, also what the root's systemd merely recommends (which
# apt would otherwise keep).
say "purging them"
apt_get purge -y --autoremove -o APT::AutoRemove::RecommendsImportant=false \
  tovmir tovmir-tool >/dev/null
left=
while read -r path; do
  # Folders that were there before (/usr/share/doc) stay; nothing else of theirs may.
  [ -n "$path" ] && [ -e "$root$path" ] && ! [ -d "$root$path" ] && left+="$path "
done <<<"$files"
[ -z "$left" ] || fail "left behind after purging: $left"
[ "$(installed)" = "$before" ] \
  || fail "the root's packages differ from before:
$(diff <(echo "$before") <(installed) | head -n 20)"
say "installed, used and purged: nothing left behind"
