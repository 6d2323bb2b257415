#!/usr/bin/env bash
# Makes the project's packages in dist/ with CPack (installs what it needs, builds):
#   dist/tovmir_VERSION_amd64.deb           the meter window: program, desktop entry,
#                                           icons, metainfo, manual page, completion
#   dist/tovmir-tool_VERSION_amd64.deb      tovmir-tool, its manual page and completion
#   dist/tovmir-VERSION-win32.zip, -win64.zip   the Windows program, a README, the licence
#   dist/SHA256SUMS
# The Debian packages are built as Debian builds its own: with dpkg-buildflags' flags
# (hardening included) and without the tests, in build/deb.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}"

rm -rf dist
mkdir -p dist
pack() {  # pack BUILD_DIR: CPack's packages of that build, into dist/
  local work
  work=$(mktemp -d)
  (cd "$1" && cpack -B "$work" >/dev/null)
  mv "$work"/*.deb "$work"/*.zip dist/ 2>/dev/null || true
  rm -rf "$work"
}

say "building the Debian packages' programs with Debian's build flags"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B build/deb -DCMAKE_BUILD_TYPE=None -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build/deb -j "$(nproc)" >/dev/null
say "packing the Debian packages"
pack build/deb

for preset in win32 win64; do
  say "building preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
  say "packing preset $preset"
  pack "build/$preset"
done
(cd dist && sha256sum -- *.deb *.zip > SHA256SUMS)
say "made:"
ls -l dist >&2
