#!/usr/bin/env bash
# Real-time benchmark of a main firmware download over a serial line.
#
# quillon-flash writes a random main firmware image into quillon-printer-sim
# through a pseudo-terminal, in real time. The script prints the wall time
# against the floor made of the procedure's fixed pauses and waits, the CPU
# time as a share of the wall time, and the peak resident memory.
#
# It prints figures and exits 0 even when a target is missed; the exit status
# is non-zero only when the download itself (or the build, or the flash check)
# failed.
set -euo pipefail
export LC_ALL=C

usage() {
  bench_usage serial_download "" "cli/quillon-flash and sim/quillon-printer-sim" "the programs as they are"
}

# shellcheck source=bench/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
bench_init serial_download

while (($#)); do
  bench_option "$@"
  shift "$bench_shift"
done
bench_check_sectors

# --- 1. Build ----------------------------------------------------------------
flash_bin="$build_dir/cli/quillon-flash"
sim_bin="$build_dir/sim/quillon-printer-sim"
bench_programs cli/quillon-flash sim/quillon-printer-sim

# --- 2. Image ------------------------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-bench.XXXXXX")"
sim_pid=""
# shellcheck disable=SC2317  # called through the EXIT trap
cleanup() {
  if [[ -n "$sim_pid" ]] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

bench_image "$work"

# --- 3. Emulator -------------------------------------------------------------
# Its first stdout line is the terminal's path. Reading it through a FIFO gives
# the wall-clock instant at which the emulator's transcript clock starts (to
# within a millisecond or so), which places the transcript's times on the wall
# clock below.
mkfifo "$work/sim.out"
"$sim_bin" --flash-out "$work/flash.bin" --log "$work/sim.log" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
exec {sim_fd}<"$work/sim.out"
pty=""
read -r -t 10 -u "$sim_fd" pty || true
sim_origin="$EPOCHREALTIME"
[[ "$pty" == /dev/* ]] || die "the emulator gave no terminal path ($(cat "$work/sim.err"))"
cat <&"$sim_fd" >"$work/sim.rest" &
exec {sim_fd}<&-

# --- 4. Download ---------------------------------------------------------------
# Fixed timing of the procedure for K sectors (all figures in ms).
#   port writes: switch 1, line status 1, erase 2, select 2,
#   data block 9 (prefix + 4 header bytes + 4 pieces), checksum 1,
#   CRC recalculation 1, reset 1; each write is followed by a 100 ms pause.
#   first sector: erase; the other K-1: erase, select, data, checksum;
#   first sector again: select, data, checksum; then recalculation and reset.
writes=$((1 + 1 + 2 + (sectors - 1) * (2 + 2 + 9 + 1) + (2 + 9 + 1) + 1 + 1))
writes_ms=$((writes * 100))
waits_ms=$((2 * 5000))  # two whole-second waits of at least 5 s
reopen_ms=100           # 50 ms before and after reopening the port
select_ms=$((sectors * 1000))
crc_ms=1000             # pause before the first read of the CRC answer
close_ms=500            # the worker's pause after closing the port
floor_ms=$((writes_ms + waits_ms + reopen_ms + select_ms + crc_ms + close_ms))

limit_s=$((2 * floor_ms / 1000 + 60))
flash_cmd=("$flash_bin" -q --type main --port "$pty" "$image")

bench_timed_run "$work" "$limit_s" "${flash_cmd[@]}"

# --- 5. Stop the emulator, check the result and the flash ---------------------
kill -TERM "$sim_pid"
sim_rc=0
wait "$sim_pid" || sim_rc=$?
sim_pid=""
wait || true

failed=0
bench_check_result "$work" quillon-flash
((sim_rc == 0)) || { echo "serial_download: the emulator exited with status $sim_rc" >&2; failed=1; }
bench_check_flash "$work"

# --- The waits as they fell on the wall clock --------------------------------
# A whole-second wait begun at wall time s ends at the start of second
# floor(s) + 6. The first begins 100 ms after the switch frame, the second
# 100 ms after the reset frame; the transcript gives both frames' times.
bench_transcript "$work/sim.log"

# --- 6. Report -----------------------------------------------------------------
bench_report "$floor_ms" '
function wait_from(start,  s) { s = start; return int(s) + 6 - s }
BEGIN {
  if (!report_head("Serial", sprintf("  emulator terminal      %s\n", pty)))
    exit
  printf "Floor (fixed timing of the procedure):\n"
  printf "  port writes            %3d x 100 ms          %7.3f s\n", writes, writes_ms / 1000
  printf "  whole-second waits       2 x 5 s (at least)  %7.3f s\n", waits_ms / 1000
  printf "  port reopen              2 x 50 ms           %7.3f s\n", reopen_ms / 1000
  printf "  select pauses          %3d x 1000 ms         %7.3f s\n", K, select_ms / 1000
  printf "  CRC answer pause             1000 ms         %7.3f s\n", crc_ms / 1000
  printf "  pause after closing           500 ms         %7.3f s\n", close_ms / 1000
  printf "  floor                                        %7.3f s\n", floor_s
  have_waits = (tsw != "" && trs != "")
  if (have_waits) {
    w1 = wait_from(origin + tsw / 1000 + 0.1)
    w2 = wait_from(origin + trs / 1000 + 0.1)
    expected = floor_s + (w1 - 5) + (w2 - 5)
    printf "  waits as they fell     %.3f s + %.3f s\n", w1, w2
    if (tst != "")
      printf "                         (switch to line status in the transcript: %.3f s = 0.2 s + wait)\n", (tst - tsw) / 1000
    printf "  expected with them                           %7.3f s\n", expected
  }
  report_wall()
  r = wall / floor_s
  printf "  wall / floor           %.4f   target <= 1.02   %s\n", r, verdict(r <= 1.02)
  if (have_waits)
    report_expected(expected)
  report_cpu()
  printf "  peak resident memory   %d KiB = %.2f MiB   target <= 8 MiB   %s\n", peak, peak / 1024, verdict(peak <= 8192)
}' -v pty="$pty" -v writes="$writes" -v writes_ms="$writes_ms" \
  -v waits_ms="$waits_ms" -v reopen_ms="$reopen_ms" -v select_ms="$select_ms" \
  -v crc_ms="$crc_ms" -v close_ms="$close_ms" -v origin="$sim_origin"

if ((failed)); then
  echo "serial_download: the download FAILED" >&2
  exit 1
fi
exit 0
