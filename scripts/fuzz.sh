#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every fuzz target for the given number
# of seconds (default 20) each, as many at once as there are processors. Each target starts from a scratch copy of its
# seed corpus and kept regression inputs (tests/fuzz/corpus/, regressions/),
# so nothing is written into the source tree. Fails if a target crashes,
# leaks, runs out of memory or hangs; the input that did it is kept in the
# scratch folder, whose path is printed.
# Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [seconds]" >&2
  exit 2
fi
targets=(command_line sim_options emulator download)
jobs=$(nproc)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillon-fuzz.XXXXXX")
# One target: 0 if it found nothing. Each runs on one processor; as many run
# at once as there are processors.
fuzz() {
  local target=$1 dir="$scratch/$1"
  mkdir -p "$dir/corpus" "$dir/crashes"
  cp -r tests/fuzz/corpus/"$target"/. "$dir/corpus/"
  if [[ -d tests/fuzz/regressions/$target ]]; then
    cp -r tests/fuzz/regressions/"$target"/. "$dir/corpus/"
  fi
  # -timeout: one input taking longer is a hang; -rss_limit_mb: a memory
  # bound; leaks are reported by AddressSanitizer at the end of each input.
  local status=0
  build/fuzz/tests/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$dir/crashes/" \
    "$dir/corpus" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}
for target in "${targets[@]}"; do
  while (($(jobs -rp | wc -l) >= jobs)); do sleep 0.2; done
  fuzz "$target" &
done
wait
failed=()
for target in "${targets[@]}"; do
  dir="$scratch/$target"
  echo "== fuzz_$target, $seconds s" >&2
  if [[ $(cat "$dir/status" 2>/dev/null) == 0 ]]; then
    grep -E '^(#[0-9]+ +DONE|Done [0-9]+ runs|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
      "$dir/log" >&2 || true
  else
    tail -n 50 "$dir/log" >&2
    echo "fuzz_$target failed: its log and input are in $dir" >&2
    failed+=("$target")
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "Fuzzing found faults in: ${failed[*]}" >&2
  exit 1
fi
rm -rf "$scratch"
echo "Fuzzing: no faults found." >&2
