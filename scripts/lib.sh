# Shared by the project's scripts: package installation and small helpers. Source it.

say() { printf '== %s\n' "$*" >&2; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# build_preset PRESET [cmake -D...]: configures and builds that preset, every core busy.
build_preset() {
  local preset=$1; shift
  say "building preset $preset"
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
}

# wine_can_run PRESET: whether this machine runs that Windows build under Wine; if not, the
# reason is on standard output.
wine_can_run() {
  local why
  why=$(python3 tools/wine/harness.py --can-run "$1" 2>&1) && return 0
  printf '%s\n' "${why#harness: }"
  return 1
}

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"
  elif command -v sudo >/dev/null; then sudo "$@"
  else die "installing packages needs root: run this as root (or install sudo)"
  fi
}

# apt-get update, tried again when a mirror is caught mid-sync; if one index still fails,
# the others are fresh and the old one is used, so the install goes on and says what it lacks.
apt_update() {
  local try
  for try in 1 2 3; do
    as_root apt-get update -q && return 0
    say "apt-get update failed (try $try of 3)"
    [ "$try" -lt 3 ] && sleep 10
  done
  say "apt-get update kept failing; installing from the package lists there are"
}

# ensure_packages PKG...: installs those of the Debian packages that are missing. Names
# ending in :i386 make sure the i386 architecture is enabled first.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' \
      || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' \
     && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  apt_update
  local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends)
  as_root "${install[@]}" "${missing[@]}" && return 0
  # A 32-bit library must be the very version of its 64-bit twin. When one architecture's
  # index of the security suite could not be fetched, its twins are only in the release's
  # own suite: take the whole set from there.
  printf '%s\n' "${missing[@]}" | grep -q ':i386$' || return 1
  local release
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  say "installing again, every package from $release's own suite"
  as_root "${install[@]}" -t "$release" "${missing[@]}"
}

# What building and testing on Linux needs.
HOST_PACKAGES=(ca-certificates build-essential dpkg-dev cmake pkg-config git googletest
               libgtest-dev clang libclang-rt-14-dev libcairo2-dev libpango1.0-dev
               libgtk-4-dev libgps-dev fonts-ipafont-gothic tmux man-db desktop-file-utils
               python3
               xvfb xauth imagemagick x11-utils)

# What the station's tests run against: a real Prometheus server, socat for a serial link
# that can be pulled out, a real gpsd fed by gpsfake (gpsd-clients, in Python), and the
# readers of the survey's maps (GDAL's ogrinfo, gpsbabel).
STATION_PACKAGES=(prometheus socat gpsd gpsd-clients python3-gps gdal-bin gpsbabel)

# What keeps every core busy while scripts/stress-tests.sh runs the tests.
STRESS_PACKAGES=(stress-ng)

# What making the packages and checking them as Debian and the desktop check them need; the
# Windows installers (NSIS), their signing (osslsigncode; openssl makes the tests' throw-away
# certificate) and a look inside them (7z reads NSIS installers).
PACKAGING_PACKAGES=(dpkg-dev file lintian appstream desktop-file-utils nsis osslsigncode
                    openssl p7zip-full)

# What the Windows build and its tests under Wine need.
WIN_PACKAGES=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine32:i386 wine64
              xvfb xauth socat python3 locales
              fonts-ipafont-gothic fonts-wine imagemagick x11-utils)

# The locales the Wine runs are made under: Japanese, where Wine reports code page 932 (the
# program's own), and English (United States), the one most Windows users have.
WINE_LOCALES=(ja_JP.UTF-8 en_US.UTF-8)

# ensure_locales NAME.UTF-8...: generates those of the locales that are missing.
ensure_locales() {
  local missing=() name
  for name in "$@"; do
    # locale -a spells the code set its own way (ja_JP.utf8): compare without case or dashes.
    locale -a 2>/dev/null | tr -d -- - | tr '[:upper:]' '[:lower:]' \
      | grep -qxF "$(printf '%s' "$name" | tr -d -- - | tr '[:upper:]' '[:lower:]')" \
      || missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "generating the locales ${missing[*]}"
  for name in "${missing[@]}"; do
    if grep -q "^# *$name UTF-8" /etc/locale.gen 2>/dev/null; then
      as_root sed -i "s/^# *$name UTF-8/$name UTF-8/" /etc/locale.gen
    elif ! grep -q "^$name UTF-8" /etc/locale.gen 2>/dev/null; then
      echo "$name UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    fi
  done
  as_root locale-gen >/dev/null
}
