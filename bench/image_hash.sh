#!/usr/bin/env bash
# The time quillon-flash takes to hash a 4 MiB image before anything is
# opened: N runs refused for a wrong --sha256 against N runs that go straight
# to a port that is not there; the difference per run is the hashing.
# usage: bench/image_hash.sh [--build-dir DIR] [--runs N] [--no-build]
set -euo pipefail
# Benchmark runs stay out of the download history and the system log.
export QUILLON_HISTORY=off
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$source_dir/build/release"
runs=20
do_build=1
while (($#)); do
  case "$1" in
    --build-dir) build_dir="${2:?--build-dir needs a directory}"; shift 2 ;;
    --runs) runs="${2:?--runs needs a number}"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    -h | --help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "image_hash: unknown option $1" >&2; exit 2 ;;
  esac
done
if ((do_build)); then
  [[ -f "$build_dir/CMakeCache.txt" ]] ||
    cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" --target quillon-flash -j"$(nproc)" >/dev/null
fi
flash="$build_dir/cli/quillon-flash"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench-hash.XXXXXX")"
trap 'rm -rf "$work"' EXIT
head -c $((4 * 1024 * 1024)) /dev/urandom >"$work/fw.mfw"
wrong="$(printf '0%.0s' {1..64})"

# time_runs ARGS...: total milliseconds of $runs runs of quillon-flash ARGS.
time_runs() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$flash" -q "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
common=(-t main -i parallel -p "$work/no-such-port")
with=$(time_runs "${common[@]}" --sha256 "$wrong" "$work/fw.mfw")
without=$(time_runs "${common[@]}" "$work/fw.mfw")
result="$("$flash" -q "${common[@]}" --sha256 "$wrong" "$work/fw.mfw" 2>/dev/null || true)"
[[ "$result" == "result 1044:"* ]] ||
  { echo "image_hash: the wrong hash was not refused with 1044: $result" >&2; exit 1; }
per=$(((with - without) * 1000 / runs))
printf 'image hash, 4 MiB, %d runs\n' "$runs"
printf '  run refused by its hash   %6.1f ms\n' "$(echo "$with / $runs" | bc -l)"
printf '  run refused by its port   %6.1f ms\n' "$(echo "$without / $runs" | bc -l)"
printf '  hashing (the difference)  %6.1f ms   target < 50 ms\n' "$(echo "$per / 1000" | bc -l)"
((per < 50000))
