#!/usr/bin/env bash
# Runs deploy/ansible/flash.yml against three local "branches", each with
# its own emulated printer, and checks the play and its report:
#   branch-main  main firmware, succeeds
#   branch-font  font set, succeeds
#   branch-bad   font set, the printer answers a wrong checksum for sector 18
# The play must fail for branch-bad alone, both reports must list all three
# with their result codes, and the good printers' flash must hold their
# images from the first sector of their download type. The three downloads
# run in parallel (about 20 s, the printer's own fixed waits).
# Usage: scripts/check-fleet.sh [QUILLON_FLASH]   (build/debug/cli/quillon-flash)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

flash=$(realpath -e "${1:-build/debug/cli/quillon-flash}") || {
  echo "check-fleet.sh: no quillon-flash at ${1:-build/debug/cli/quillon-flash}" >&2
  exit 1
}

scripts/install-deps.sh --fleet

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
python=$(command -v python3)

# Main firmware from sector 6 (three 64 KiB sectors), fonts from sector 18.
head -c 196608 /dev/urandom >"$scratch/image.mfw"
head -c 131072 /dev/urandom >"$scratch/image.bin"

cat >"$scratch/inventory.ini" <<EOF
[branches]
branch-main quillon_type=main quillon_image=$scratch/image.mfw quillon_port=sim:flash=$scratch/branch-main.bin
branch-font quillon_type=font quillon_image=$scratch/image.bin quillon_port=sim:flash=$scratch/branch-font.bin
branch-bad quillon_type=font quillon_image=$scratch/image.bin quillon_port=sim:flash=$scratch/branch-bad.bin,bad-crc=18

[branches:vars]
ansible_connection=local
ansible_python_interpreter=$python
quillon_flash=$flash
quillon_work_dir=$scratch/work/{{ inventory_hostname }}
report_dir=$scratch/report
EOF

echo "== ansible-playbook flash.yml (3 hosts, 3 forks)" >&2
status=0
(
  cd "$scratch"
  # The shipped ansible.cfg (retry file on), the retry file kept here.
  ANSIBLE_CONFIG="$repo/deploy/ansible/ansible.cfg" ANSIBLE_RETRY_FILES_SAVE_PATH="$scratch" ANSIBLE_NOCOLOR=1 \
    ansible-playbook -i inventory.ini --forks 3 "$repo/deploy/ansible/flash.yml"
) >"$scratch/play.log" 2>&1 || status=$?

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if [[ $status -eq 0 ]]; then
  fail "the play succeeded although branch-bad's download failed"
fi
sed -n '/^PLAY RECAP/,$p' "$scratch/play.log" >&2
for host in branch-main branch-font branch-bad; do
  want=0
  [[ $host == branch-bad ]] && want=1
  grep -Eq "^$host +: .* failed=$want " "$scratch/play.log" || fail "$host: not failed=$want in the recap"
done
if [[ "$(cat "$scratch/flash.retry" 2>/dev/null)" != branch-bad ]]; then
  fail "the retry file does not name branch-bad alone: $(cat "$scratch/flash.retry" 2>/dev/null)"
fi

# The reports, read back with Python's json and csv modules.
"$python" - "$scratch/report" <<'EOF' || fail "the reports"
import csv, json, sys

folder = sys.argv[1]
want = {"branch-main": 1, "branch-font": 1, "branch-bad": 1005}  # 1005: different CRC
problems = []

rows = json.load(open(f"{folder}/flash-report.json"))
if sorted(r["host"] for r in rows) != sorted(want):
    problems.append(f"JSON hosts {[r['host'] for r in rows]}")
for r in rows:
    if set(r) != {"host", "port", "code", "message", "duration_s", "success"}:
        problems.append(f"JSON keys {sorted(r)}")
        continue
    code = want.get(r["host"])
    if r["code"] != code or r["success"] != (code == 1):
        problems.append(f"JSON {r['host']}: code {r['code']!r} success {r['success']!r}")
    if not r["message"] or not r["port"].startswith("sim:flash="):
        problems.append(f"JSON {r['host']}: message {r['message']!r} port {r['port']!r}")
    if not isinstance(r["duration_s"], (int, float)) or not 5 < r["duration_s"] < 120:
        problems.append(f"JSON {r['host']}: duration_s {r['duration_s']!r}")
by_host = {r["host"]: r for r in rows}

with open(f"{folder}/flash-report.csv", newline="") as f:
    table = list(csv.reader(f))
if table[0] != ["host", "port", "code", "message", "duration_s"]:
    problems.append(f"CSV header {table[0]}")
if len(table) != 4:
    problems.append(f"CSV has {len(table) - 1} rows")
for host, port, code, message, duration in table[1:]:
    r = by_host.get(host)
    if r is None or [port, int(code), message, float(duration)] != [
            r["port"], r["code"], r["message"], r["duration_s"]]:
        problems.append(f"CSV row {[host, port, code, message, duration]} differs from the JSON")

for r in rows:
    print(f"  {r['host']:12} {r['code']:5} {r['duration_s']:5}s  {r['message']}")
for p in problems:
    print(f"  {p}", file=sys.stderr)
sys.exit(1 if problems else 0)
EOF

# Sector n >= 5 starts at 0x10000 * (n - 4): main firmware at sector 6,
# fonts at sector 18.
check_flash() {  # HOST IMAGE SECTOR
  local offset=$((0x10000 * ($3 - 4)))
  if ! cmp -s -n "$(stat -c %s "$2")" "$2" - < <(tail -c +$((offset + 1)) "$scratch/$1.bin" 2>/dev/null); then
    fail "$1: the flash does not hold the image at sector $3"
  fi
}
check_flash branch-main "$scratch/image.mfw" 6
check_flash branch-font "$scratch/image.bin" 18

if [[ $failures -ne 0 ]]; then
  echo "== the play's output:" >&2
  cat "$scratch/play.log" >&2
  echo "check-fleet.sh: $failures problem(s)" >&2
  exit 1
fi
echo "check-fleet.sh: passed (the play failed for branch-bad alone; reports and flash contents right)"
