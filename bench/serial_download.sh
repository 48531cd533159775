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

result_line="$(tail -n 1 "$work/flash.out" 2>/dev/null || true)"
failed=0
if ((flash_rc != 0)); then
  echo "serial_download: quillon-flash exited with status $flash_rc" >&2
  sed 's/^/  /' "$work/flash.err" >&2 || true
  failed=1
fi
if [[ "$result_line" != "result 1:"* ]]; then
  echo "serial_download: last output line is not result 1: '$result_line'" >&2
  failed=1
fi
((sim_rc == 0)) || { echo "serial_download: the emulator exited with status $sim_rc" >&2; failed=1; }

# The emulator's flash map: sectors 1..4 are 16, 8, 8 and 32 KiB from address
# 0, sector n >= 5 starts at (n - 4) * 64 KiB, so sector 6 is at 0x20000.
image_at=$((0x20000))
flash_check="missing"
if [[ -f "$work/flash.bin" ]]; then
  flash_size=$(stat -c %s "$work/flash.bin")
  if cmp -s -n "$image_bytes" "$image" "$work/flash.bin" 0 "$image_at"; then
    flash_check="image found at $(printf '0x%06X' "$image_at") (sector 6)"
    erased() { # offset length: all 0xFF?
      cmp -s -n "$2" <(head -c "$2" /dev/zero | tr '\0' '\377') "$work/flash.bin" 0 "$1"
    }
    tail_at=$((image_at + image_bytes))
    if erased 0 "$image_at" && erased "$tail_at" $((flash_size - tail_at)); then
      flash_check+=", rest of the flash erased"
    else
      flash_check+=", but bytes outside the image were written"
      failed=1
    fi
  else
    flash_check="image NOT found at $(printf '0x%06X' "$image_at")"
    failed=1
  fi
fi
[[ "$flash_check" != missing ]] || { echo "serial_download: no flash dump" >&2; failed=1; }

# --- The waits as they fell on the wall clock --------------------------------
# A whole-second wait begun at wall time s ends at the start of second
# floor(s) + 6. The first begins 100 ms after the switch frame, the second
# 100 ms after the reset frame; the transcript gives both frames' times.
t_switch_ms="$(awk '$4 == "switch" {print $1; exit}' "$work/sim.log" 2>/dev/null || true)"
t_status_ms="$(awk '$4 == "status" {print $1; exit}' "$work/sim.log" 2>/dev/null || true)"
t_reset_ms="$(awk '$4 == "reset" {print $1}' "$work/sim.log" 2>/dev/null | tail -n 1 || true)"

# --- 6. Report -----------------------------------------------------------------
awk -v K="$sectors" -v bytes="$image_bytes" -v pty="$pty" -v result="$result_line" \
  -v check="$flash_check" -v writes="$writes" -v writes_ms="$writes_ms" \
  -v waits_ms="$waits_ms" -v reopen_ms="$reopen_ms" -v select_ms="$select_ms" \
  -v crc_ms="$crc_ms" -v close_ms="$close_ms" -v floor_ms="$floor_ms" \
  -v t0="$t0" -v t1="$t1" -v user="${user_s:-0}" -v sys="${sys_s:-0}" \
  -v peak="${peak_kib:-0}" -v origin="$sim_origin" -v tsw="$t_switch_ms" \
  -v tst="$t_status_ms" -v trs="$t_reset_ms" -v failed="$failed" -v how="$([[ $proc_timing == 1 ]] && echo /proc || echo /usr/bin/time)" '
function wait_from(start,  s) { s = start; return int(s) + 6 - s }
function verdict(ok) { return ok ? "met" : "MISSED" }
BEGIN {
  wall = t1 - t0
  floor_s = floor_ms / 1000
  cpu = user + sys
  printf "Serial download benchmark: main firmware, %d sector(s) of 64 KiB (%d bytes), sectors 6..%d\n", K, bytes, 5 + K
  printf "  emulator terminal      %s\n", pty
  printf "  result                 %s\n", result
  printf "  flash check            %s\n", check
  if (failed) {
    print "The download failed: no figures."
    exit
  }
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
  printf "Figures (CPU and memory by %s):\n", how
  printf "  wall time              %.3f s\n", wall
  r = wall / floor_s
  printf "  wall / floor           %.4f   target <= 1.02   %s\n", r, verdict(r <= 1.02)
  if (have_waits) {
    re = wall / expected
    printf "  wall / expected        %.4f   target <= 1.02   %s   (%+.0f ms over the expected)\n", re, verdict(re <= 1.02), (wall - expected) * 1000
  }
  share = wall > 0 ? 100 * cpu / wall : 0
  printf "  CPU time (user+sys)    %.3f s (user %.3f, sys %.3f) = %.3f %% of wall   target <= 1 %%   %s\n", cpu, user, sys, share, verdict(share <= 1)
  printf "  peak resident memory   %d KiB = %.2f MiB   target <= 8 MiB   %s\n", peak, peak / 1024, verdict(peak <= 8192)
}'

if ((failed)); then
  echo "serial_download: the download FAILED" >&2
  exit 1
fi
exit 0
