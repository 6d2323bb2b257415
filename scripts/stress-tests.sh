#!/usr/bin/env bash
# Runs the tests again and again with every core kept busy (stress-ng), to find those that
# pass only by luck: the host, asan and tsan suites (the Linux window and the station among
# them) and the demo's, ROUNDS times each, every round in a new random order; the Wine
# suites once. Prints each test that failed and how often, and exits 1 if any did. Run it
# after changing tests or threaded code (README, "Tests under load").
#   scripts/stress-tests.sh [ROUNDS]     (default 3)
# What the failed runs printed is kept in build/stress/.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

rounds=${1:-3}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || die "usage: scripts/stress-tests.sh [ROUNDS]"
ensure_packages "${HOST_PACKAGES[@]}" "${WIN_PACKAGES[@]}" "${STATION_PACKAGES[@]}" \
  "${STRESS_PACKAGES[@]}"
ensure_locales "${WINE_LOCALES[@]}"
for preset in host asan tsan win32 win64; do build_preset "$preset"; done

logs=build/stress
rm -rf "$logs"
mkdir -p "$logs"
# The load: a worker on every core for as long as the tests run.
stress-ng --cpu "$(nproc)" --timeout 0 --quiet &
load=$!
trap 'kill "$load" 2>/dev/null; wait "$load" 2>/dev/null || true' EXIT
say "every core kept busy by stress-ng; $rounds rounds"

declare -A failed=() runs=()
failure() {  # failure SUITE TEST
  failed["$1: $2"]=$((${failed["$1: $2"]:-0} + 1))
}

# One run of a preset's tests in random order; the tests that failed counted.
ctest_round() {  # ctest_round PRESET ROUND
  local list=build/$1/Testing/Temporary/LastTestsFailed.log log=$logs/$1-$2.log name
  runs[$1]=$((${runs[$1]:-0} + 1))
  rm -f "$list"
  if ctest --preset "$1" -j "$(nproc)" --schedule-random >"$log" 2>&1; then
    rm "$log"
    return
  fi
  say "preset $1, round $2: failures (what it printed: $log)"
  if [ -s "$list" ]; then
    while IFS=: read -r _ name; do failure "$1" "$name"; done <"$list"
  else
    failure "$1" "(the run itself: $log)"
  fi
}

# One run of the demo's test; the tests that failed counted.
demo_round() {  # demo_round ROUND
  local log=$logs/demo-$1.log name
  runs[demo]=$((${runs[demo]:-0} + 1))
  if python3 tests/demo/test_demo.py >"$log" 2>&1; then
    rm "$log"
    return
  fi
  say "demo, round $1: failures (what it printed: $log)"
  local names
  names=$(sed -n 's/^\(FAIL\|ERROR\): \(test_[a-z0-9_]*\).*/\2/p' "$log" | sort -u)
  [ -n "$names" ] || names="(the run itself: $log)"
  while read -r name; do failure demo "$name"; done <<<"$names"
}

for round in $(seq "$rounds"); do
  say "round $round of $rounds"
  for preset in host asan tsan; do ctest_round "$preset" "$round"; done
  demo_round "$round"
done
not_run=()
for preset in win64 win32; do
  if why=$(wine_can_run "$preset"); then
    say "the Wine suites of $preset, once"
    ctest_round "$preset" 1
  else
    not_run+=("$preset: not run, this machine cannot run it: $why")
  fi
done

say "under load: ${!runs[*]}"
for suite in "${!runs[@]}"; do say "  $suite: ${runs[$suite]} runs"; done
for line in "${not_run[@]}"; do say "$line"; done
if [ ${#failed[@]} -eq 0 ]; then
  say "no test failed"
  exit 0
fi
say "tests that failed, and how often:"
for key in "${!failed[@]}"; do
  suite=${key%%: *}
  printf '  %s: %d of %d runs\n' "$key" "${failed[$key]}" "${runs[$suite]}"
done | sort
exit 1
