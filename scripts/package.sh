#!/usr/bin/env bash
# Makes the project's packages in dist/ with CPack (installs what it needs, builds):
#   dist/tovmir-tool_VERSION_amd64.deb      tovmir-tool for Debian, its manual page,
#                                           completion, README and licence
#   dist/tovmir-VERSION-win32.zip, -win64.zip   the Windows program, a README, the licence
#   dist/SHA256SUMS
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}" dpkg-dev file

rm -rf dist
mkdir -p dist
for preset in host win32 win64; do
  say "building preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
  say "packing preset $preset"
  work=$(mktemp -d)
  (cd "build/$preset" && cpack -B "$work" >/dev/null)
  mv "$work"/*.deb "$work"/*.zip dist/ 2>/dev/null || true
  rm -rf "$work"
done
(cd dist && sha256sum -- *.deb *.zip > SHA256SUMS)
say "made:"
ls -l dist >&2
