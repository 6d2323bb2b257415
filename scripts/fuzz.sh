#!/usr/bin/env bash
# Builds the fuzz targets (preset fuzz) and runs them all at once for SECONDS (default 60),
# each on its own corpus in build/fuzz/fuzz-corpus/NAME, which grows from run to run (and
# which the fuzz tests start from too). At the end, per target: the inputs run and the
# coverage reached (cov: edges, ft: features). Exits 1 if a target found a fault (a crash,
# a broken invariant, a leak, a hang), naming the input that shows it.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

seconds=${1:-60}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || die "usage: scripts/fuzz.sh [SECONDS]"
ensure_packages "${HOST_PACKAGES[@]}"

say "building preset fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" --target fuzzers

logs=build/fuzz/fuzz-logs
mkdir -p "$logs"
names=() pids=()
# Interrupted: the fuzzers started here end too.
trap '[ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null; wait; exit 130' INT TERM
# name, executable, corpus, seeds, options: one line per target, written by CMake.
while IFS=$'\t' read -r name exe corpus seeds options; do
  read -ra opts <<<"$options"
  mkdir -p "$corpus"
  "$exe" -max_total_time="$seconds" -print_final_stats=1 "${opts[@]}" "$corpus" "$seeds" \
    >"$logs/$name.log" 2>&1 &
  names+=("$name") pids+=($!)
done <build/fuzz/fuzz-targets.txt
say "fuzzing ${names[*]} for $seconds s at once (logs in $logs)"

# figures NAME LOG: the target's line of the table, from its final statistics and its last
# status line ("#RUNS  DONE  cov: N ft: N corp: N/SIZE ...").
figures() {
  local line runs
  line=$(grep -E '^#[0-9]+.*cov: ' "$2" | tail -n 1 || true)
  runs=$(sed -nE 's/^stat::number_of_executed_units: *//p' "$2")
  printf '%-10s %12s %8s %8s %12s' "$1" "${runs:-${line%%[[:space:]]*}}" \
    "$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$line")" \
    "$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$line")" \
    "$(sed -nE 's/.* corp: ([^ ]+).*/\1/p' <<<"$line")"
}

failed=()
printf '%-10s %12s %8s %8s %12s  %s\n' target runs cov ft corpus result
for i in "${!names[@]}"; do
  name=${names[$i]}
  result=ok
  if ! wait "${pids[$i]}"; then
    result=FAULT
    failed+=("$name")
  fi
  printf '%s  %s\n' "$(figures "$name" "$logs/$name.log")" "$result"
done
for name in "${failed[@]}"; do
  log=$logs/$name.log
  grep -E 'check failed|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$log" \
    | head -n 3 >&2 || true
  unit=$(sed -nE 's/.*Test unit written to (.*)/\1/p' "$log" | tail -n 1)
  say "$name found a fault (its log: $log); the input that shows it: ${unit:-none written}"
  say "to see it again: build/fuzz/tests/${name}_fuzz ${unit:-INPUT}"
done
[ ${#failed[@]} -eq 0 ] || exit 1
say "no faults found in $seconds s"
