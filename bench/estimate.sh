#!/usr/bin/env bash
# The expected time of --plan against the download itself: for each
# interface and each type, the plan's expected_s, then the wall time of that
# download into the built-in printer, in real time. Target: within 10 %.
# usage: bench/estimate.sh [--build-dir DIR] [--no-build] [--interface IF]...
set -euo pipefail
export LC_ALL=C
# Benchmark runs stay out of the download history and the system log.
export QUILLON_HISTORY=off
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="$source_dir/build/release"
do_build=1
interfaces=()
while (($#)); do
  case "$1" in
    --build-dir) build_dir="${2:?--build-dir needs a directory}"; shift 2 ;;
    --interface) interfaces+=("${2:?--interface needs serial, parallel or usb}"); shift 2 ;;
    --no-build) do_build=0; shift ;;
    -h | --help) sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "estimate: unknown option $1" >&2; exit 2 ;;
  esac
done
((${#interfaces[@]})) || interfaces=(serial parallel usb)
if ((do_build)); then
  [[ -f "$build_dir/CMakeCache.txt" ]] ||
    cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build_dir" --target quillon-flash -j"$(nproc)" >/dev/null
fi
flash="$build_dir/cli/quillon-flash"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench-estimate.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# Two 64 KiB sectors of main firmware (6, 7), the IPL's head and sectors 4
# and 5, fonts over one sector and a half (18, 19).
head -c 131072 /dev/urandom >"$work/fw.mfw"
head -c 131072 /dev/urandom >"$work/boot.ipl"
head -c 100000 /dev/urandom >"$work/fonts.bin"

printf '%-9s %-5s %11s %9s %8s\n' interface type "expected s" "wall s" "wall/exp"
failed=0
for interface in "${interfaces[@]}"; do
  for pair in main:fw.mfw ipl:boot.ipl font:fonts.bin; do
    type="${pair%%:*}"
    image="$work/${pair#*:}"
    args=(-t "$type" -i "$interface" -p sim "$image")
    expected="$("$flash" --plan --json "${args[@]}" | sed -n 's/.*"expected_s":\([0-9.]*\).*/\1/p')"
    start=$(date +%s%N)
    result="$("$flash" -q "${args[@]}" 2>/dev/null || true)"
    end=$(date +%s%N)
    wall="$(echo "($end - $start) / 1000000000" | bc -l)"
    ratio="$(echo "$wall / $expected" | bc -l)"
    mark=""
    if [[ "$result" != "result 1:"* ]]; then
      mark="  download failed: $result"
      failed=1
    elif (($(echo "$ratio < 0.9 || $ratio > 1.1" | bc -l))); then
      mark="  outside 10 %"
    fi
    printf '%-9s %-5s %11.1f %9.1f %8.3f%s\n' "$interface" "$type" "$expected" "$wall" "$ratio" "$mark"
  done
done
exit "$failed"
