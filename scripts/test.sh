#!/usr/bin/env bash
# Installs what the tests need, builds every configuration and runs every test.
#   scripts/test.sh            everything
#   FUZZ_SECONDS=N             how long each fuzz target runs (default 10; scripts/fuzz.sh
#                              runs them longer)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}" \
  "${STATION_PACKAGES[@]}"
ensure_locales "${WINE_LOCALES[@]}"

run_tests() {  # run_tests PRESET
  say "testing preset $1"
  ctest --preset "$1" -j "$(nproc)"
}

build_preset host && run_tests host
build_preset asan && run_tests asan
build_preset tsan && run_tests tsan
build_preset fuzz -DTOVMIR_FUZZ_SECONDS="${FUZZ_SECONDS:-10}" && run_tests fuzz
# The Windows program, 32- and 64-bit: both built and checked as files everywhere, and run
# with their tests under Wine (COM ports mapped to ptys) where this machine can run them.
build_preset win32 && build_preset win64
say "checking that both programs carry the same resources"
python3 tests/win32/check_exe.py --same-resources build/win32/tovmir.exe build/win64/tovmir.exe
ran=() not_run=()
for preset in win64 win32; do
  if why=$(wine_can_run "$preset"); then
    run_tests "$preset"
    ran+=("$preset")
  else
    [ "$preset" = win64 ] && die "this machine cannot run 64-bit Windows programs: $why"
    say "testing preset $preset: the program as a file only (it cannot run here)"
    ctest --preset "$preset" -L exe
    not_run+=("$preset: built and checked, but not run under Wine, nor its installer: $why")
  fi
done
# The packages, signed with a throw-away certificate made for the run, taken apart as a user
# would use them; the installers run under Wine where this machine runs them.
say "packaging, signed with a throw-away certificate"
certs=$(mktemp -d)
trap 'rm -rf "$certs"' EXIT
openssl rand -hex 16 > "$certs/pass"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -subj "/CN=tovmir tests (throw-away)" \
  -addext extendedKeyUsage=codeSigning -passout file:"$certs/pass" \
  -keyout "$certs/key.pem" -out "$certs/cert.pem" 2>/dev/null
TOVMIR_SIGN_CERT=$certs/cert.pem TOVMIR_SIGN_KEY=$certs/key.pem \
  TOVMIR_SIGN_PASS_FILE=$certs/pass scripts/package.sh
python3 tests/package/test_package.py --ca "$certs/cert.pem"
say "testing the installers under Wine"
python3 tests/package/test_installer.py --ca "$certs/cert.pem"
# Installed with apt-get into a scratch Debian root, used, and purged again.
if [ "$(id -u)" -eq 0 ]; then
  scripts/test-install.sh
else
  not_run+=("the packages in a scratch Debian root: not tried (it takes root)")
fi

# The README's main command, headless and on a display of its own.
say "testing the demo"
python3 tests/demo/test_demo.py

say "all tests passed; the Wine suites ran on: ${ran[*]}"
for line in "${not_run[@]}"; do say "$line"; done
