#!/usr/bin/env bash
# Makes the project's packages in dist/ (installs what it needs, builds):
#   dist/tovmir_VERSION_amd64.deb           the meter window: program, desktop entry,
#                                           icons, metainfo, manual page, completion
#   dist/tovmir-tool_VERSION_amd64.deb      tovmir-tool, its manual page and completion
#   dist/tovmir-VERSION-win32.zip, -win64.zip   the Windows program, a README, the licence
#   dist/tovmir-VERSION-win32-setup.exe, -win64-setup.exe   their installers (NSIS)
#   dist/SHA256SUMS
# The Debian packages are made by CPack, built as Debian builds its own: with
# dpkg-buildflags' flags (hardening included) and without the tests, in build/deb.
# The Windows programs and installers are signed when TOVMIR_SIGN_CERT and TOVMIR_SIGN_KEY
# name a certificate and its key (scripts/sign.sh); each tovmir.exe before it is packed.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}"

if [ -n "${TOVMIR_SIGN_CERT:-}${TOVMIR_SIGN_KEY:-}" ]; then
  signing=yes
  say "signing the Windows programs and installers with $TOVMIR_SIGN_CERT"
else
  signing=
  say "NOT signing the Windows programs and installers: TOVMIR_SIGN_CERT and TOVMIR_SIGN_KEY" \
      "are not set (README.md, \"Signing\")"
fi

rm -rf dist
mkdir -p dist
pack() {  # pack BUILD_DIR: CPack's packages of that build, into dist/
  local work
  work=$(mktemp -d)
  (cd "$1" && cpack -B "$work" >/dev/null)
  mv "$work"/*.deb dist/
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

# pack_windows PRESET: the zip and the installer of that build, into dist/, from what
# `cmake --install` puts down (the program, the README and the licence as Windows reads them).
pack_windows() {
  local preset=$1 version name stage sign_uninstaller=()
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
  name=tovmir-$version-$preset
  stage=build/$preset/package
  rm -rf "$stage"
  cmake --install "build/$preset" --prefix "$stage/$name" --component program >/dev/null
  if [ -n "$signing" ]; then
    scripts/sign.sh "$stage/$name/tovmir.exe"
    sign_uninstaller=(-DSIGN="$PWD/scripts/sign.sh")
  fi
  (cd "$stage" && cmake -E tar cf "$OLDPWD/dist/$name.zip" --format=zip "$name"/*)
  makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DARCH="$preset" \
    -DFILES="$PWD/$stage/$name" -DICON="$PWD/res/tovmir.ico" \
    -DOUTFILE="$PWD/dist/$name-setup.exe" "${sign_uninstaller[@]}" packaging/windows/tovmir.nsi
  [ -z "$signing" ] || scripts/sign.sh "dist/$name-setup.exe"
}

for preset in win32 win64; do
  say "building preset $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
  say "packing preset $preset"
  pack_windows "$preset"
done
(cd dist && sha256sum -- *.deb *.zip *-setup.exe > SHA256SUMS)
say "made:"
ls -l dist >&2
