#!/usr/bin/env bash
# Real-time benchmark of a main firmware download over USB and over the
# parallel port.
#
# quillon-flash writes a random main firmware image into the built-in
# emulated printer (-p sim:flash=FILE,log=FILE), reached as a USB printer
# (--interface usb) or as a parallel port (--interface parallel), in real
# time. For each interface the script prints the wall time against the floor
# made of the procedure's fixed pauses and waits, the CPU time as a share of
# the wall time, and the peak resident memory.
#
# It prints figures and exits 0 even when a target is missed; the exit status
# is non-zero only when a download itself (or the build, or the flash check)
# failed.
set -euo pipefail
export LC_ALL=C

usage() {
  bench_usage port_download $'  --interface IF    usb, parallel or both (default both: usb first)\n' \
    cli/quillon-flash "the program as it is"
}

# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_init port_download
interfaces="both"

while (($#)); do
  if [[ "$1" == --interface ]]; then
    interfaces="${2:?--interface needs usb, parallel or both}"
    shift 2
  else
    bench_option "$@"
    shift "$bench_shift"
  fi
done

case "$interfaces" in
  usb | parallel) ;;
  both) interfaces="usb parallel" ;;
  *) echo "port_download: --interface must be usb, parallel or both" >&2; exit 2 ;;
esac
bench_check_sectors

# --- 1. Build ----------------------------------------------------------------
flash_bin="$build_dir/cli/quillon-flash"
bench_programs cli/quillon-flash

# The emulator's transcript is stamped with the monotonic clock; one sample
# of the monotonic and the wall clock together places it on the wall clock.
# Perl's Time::HiRes reads both; without it the waits are not placed.
clock_pair() {
  perl -MTime::HiRes=clock_gettime,CLOCK_MONOTONIC,CLOCK_REALTIME \
    -e 'printf "%.6f %.6f\n", clock_gettime(CLOCK_MONOTONIC), clock_gettime(CLOCK_REALTIME)' \
    2>/dev/null || true
}

# --- 2. Image ------------------------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench.XXXXXX")"
trap 'rm -rf "$work"' EXIT

bench_image "$work"

# --- 3. The floor of each interface ------------------------------------------------
# Fixed timing of the procedure for K sectors (ms). Main firmware: the first
# sector is erased first; each of the other K-1 is erased, selected, written
# and verified; then the first sector is selected, written and verified; then
# the CRC recalculation and the reset. Over both interfaces every answer is
# read by a receive thread that the main window starts for it.
K=$sectors
floor_lines=()
floor_ms=0
add() { # ms text
  floor_ms=$((floor_ms + $1))
  floor_lines+=("$(printf '  %-54s %8.3f s' "$2" "$(awk -v ms="$1" 'BEGIN { print ms / 1000 }')")")
}
plan_floor() { # interface
  floor_lines=()
  floor_ms=0
  if [[ "$1" == usb ]]; then
    # Answers: line status, K erases, K selects, K data blocks, 2 per
    # checksum (ACK, then the value), 2 for the CRC recalculation.
    local answers=$((5 * K + 3))
    add 1000 "pause after opening the printer (launch)  1000 ms"
    add 2000 "send thread, before the download         2000 ms"
    add 8000 "pause after the switch                   8000 ms"
    add $((answers * 50)) "$(printf 'receive thread, before its first read %3d x 50 ms' "$answers")"
    add $((K * 1000)) "$(printf 'pause after each select               %3d x 1000 ms' "$K")"
    add $((K * 10000)) "$(printf 'pause before each checksum answer     %3d x 10 s' "$K")"
    add 1000 "pause before the CRC recalculation       1000 ms"
    add 50000 "pause before the CRC answer              50 x 1 s"
    add 5000 "whole-second wait after the reset        5 s at least"
    add 1500 "send thread, after the download          500 + 1000 ms"
  else
    # Writes: switch 1, line status 1, erase 2, select 2, data block 9
    # (prefix, 4 header bytes, 4 pieces of 16 KiB), checksum 1, CRC
    # recalculation 1, reset 1. Answers: line status, K erases, K selects,
    # K data blocks, K checksums, the CRC recalculation.
    local writes=$((14 * K + 4))
    local answers=$((4 * K + 2))
    add 1000 "send thread, before the download         1000 ms"
    add $((writes * 100)) "$(printf 'port writes                           %3d x 100 ms' "$writes")"
    add 7000 "pause after the switch                   7000 ms"
    add $((answers * 750)) "$(printf 'receive thread, after its read        %3d x 750 ms' "$answers")"
    add 1000 "pause after selecting the first sector   1000 ms"
    add 5000 "whole-second wait after the reset        5 s at least"
    add 500 "send thread, after the download          500 ms"
  fi
}

# --- 4. One download ---------------------------------------------------------------
failed_any=0
summary=()

run_one() { # interface
  local iface="$1"
  local dir="$work/$iface"
  mkdir -p "$dir"
  plan_floor "$iface"
  local limit_s=$((2 * floor_ms / 1000 + 60))
  local flash_cmd=("$flash_bin" -q --type main --interface "$iface"
    -p "sim:flash=$dir/flash.bin,log=$dir/sim.log" "$image")
  local pair

  echo "running the $iface download (floor $(awk -v ms="$floor_ms" 'BEGIN { printf "%.1f", ms / 1000 }') s)" >&2
  pair="$(clock_pair)"
  bench_timed_run "$dir" "$limit_s" "${flash_cmd[@]}"

  # --- Check the result and the flash
  local result_line failed=0 flash_check
  bench_check_result "$dir" "quillon-flash --interface $iface"
  bench_check_flash "$dir"

  # --- The transcript: switch and reset frames (monotonic ms)
  local t_switch_ms t_status_ms t_reset_ms
  bench_transcript "$dir/sim.log"

  # --- Report
  local report
  report="$(printf '%s\n' "${floor_lines[@]}")"
  FLOOR_LINES="$report" bench_report "$floor_ms" '
BEGIN {
  if (!report_head(iface == "usb" ? "USB" : "Parallel port", ""))
    exit
  printf "Floor (fixed timing of the procedure):\n%s\n", ENVIRON["FLOOR_LINES"]
  printf "  %-54s %8.3f s\n", "floor", floor_s
  # The one whole-second wait, after the reset: begun at wall time s, it ends
  # at the start of second floor(s) + 6. Over USB the reset write has no pause
  # after it, over the parallel port 100 ms.
  split(pair, p, " ")
  have_wait = (trs != "" && p[1] != "" && p[2] != "")
  if (have_wait) {
    s = p[2] + (trs / 1000 - p[1]) + (iface == "usb" ? 0 : 0.1)
    w = int(s) + 6 - s
    expected = floor_s + (w - 5)
    printf "  %-54s %8.3f s\n", "wait after the reset as it fell", w
    printf "  %-54s %8.3f s\n", "expected with it", expected
    if (tsw != "")
      printf "  %-54s %8.3f s\n", sprintf("(check: start to the switch frame, pauses %d s)", (iface == "usb" ? 3 : 1)), p[2] + (tsw / 1000 - p[1]) - t0
  }
  report_wall()
  r = wall / floor_s
  printf "  wall / floor           %.4f   (%+.0f ms over the floor)\n", r, (wall - floor_s) * 1000
  if (have_wait)
    report_expected(expected)
  report_cpu()
  printf "  peak resident memory   %d KiB = %.2f MiB (the emulated printer and its 4,390,912-byte flash included)\n", peak, peak / 1024
}' -v iface="$iface" -v pair="$pair"
  local line
  line="$(awk -v iface="$iface" -v t0="$t0" -v t1="$t1" -v floor_ms="$floor_ms" \
    -v user="${user_s:-0}" -v sys="${sys_s:-0}" -v peak="${peak_kib:-0}" -v failed="$failed" '
BEGIN {
  if (failed) { printf "  %-9s FAILED", iface; exit }
  wall = t1 - t0
  printf "  %-9s wall %8.3f s   floor %8.3f s   wall/floor %.4f   CPU %.3f %%   peak %d KiB",
    iface, wall, floor_ms / 1000, wall / (floor_ms / 1000), (wall > 0 ? 100 * (user + sys) / wall : 0), peak
}')"
  summary+=("$line")
  echo
  if ((failed)); then failed_any=1; fi
}

for iface in $interfaces; do
  run_one "$iface"
done

if ((${#summary[@]} > 1)); then
  echo "Summary ($sectors sector(s)):"
  printf '%s\n' "${summary[@]}"
fi

if ((failed_any)); then
  echo "port_download: a download FAILED" >&2
  exit 1
fi
exit 0
