#!/usr/bin/env bash
# Installs what the tests need, builds every configuration and runs every test.
#   scripts/test.sh            everything
#   FUZZ_SECONDS=N             how long the fuzzer runs (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}"
ensure_japanese_locale

jobs=$(nproc)
build() {  # build PRESET [cmake -D...]
  local preset=$1; shift
  say "building preset $preset"
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}
run_tests() {  # run_tests PRESET
  say "testing preset $1"
  ctest --preset "$1" -j "$jobs"
}

build host && run_tests host
build asan && run_tests asan
build tsan && run_tests tsan
build fuzz -DTOVMIR_FUZZ_SECONDS="${FUZZ_SECONDS:-30}" && run_tests fuzz
# The Windows program and its tests under Wine, on COM ports mapped to ptys.
build win32 && run_tests win32
# The README's main command, headless and on a display of its own.
say "testing the demo"
python3 tests/demo/test_demo.py

say "all tests passed"
