#!/usr/bin/env bash
# Runs deploy/ansible/flash.yml against three local "branches", each with
# its own emulated printer, and checks the play and its report:
#   branch-main  main firmware, succeeds
#   branch-font  font set, succeeds
#   branch-bad   font set, the printer answers a wrong checksum for sector 18
#   branch-hash  font set with another image's SHA-256: refused (1044)
# The play must fail for branch-bad and branch-hash alone, both reports must
# list all four with their result codes, hashes and how far each got (from
# the history record), the good printers' flash must hold their images from
# the first sector of their download type, and branch-hash's printer must
# have been sent nothing: its plan, run first on every host, refuses it. The downloads run in parallel (about 20 s, the
# printer's own fixed waits).
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
main_sha=$(sha256sum "$scratch/image.mfw" | cut -c1-64)
font_sha=$(sha256sum "$scratch/image.bin" | cut -c1-64)

cat >"$scratch/inventory.ini" <<EOF
[branches]
branch-main quillon_type=main quillon_image=$scratch/image.mfw quillon_image_sha256=$main_sha quillon_port=sim:flash=$scratch/branch-main.bin
branch-font quillon_type=font quillon_image=$scratch/image.bin quillon_image_sha256=$font_sha quillon_port=sim:flash=$scratch/branch-font.bin
branch-bad quillon_type=font quillon_image=$scratch/image.bin quillon_image_sha256=$font_sha quillon_port=sim:flash=$scratch/branch-bad.bin,bad-crc=18
branch-hash quillon_type=font quillon_image=$scratch/image.bin quillon_image_sha256=$main_sha quillon_port=sim:flash=$scratch/branch-hash.bin

[branches:vars]
ansible_connection=local
ansible_python_interpreter=$python
quillon_flash=$flash
quillon_work_dir=$scratch/work/{{ inventory_hostname }}
report_dir=$scratch/report
quillon_history=$scratch/history/{{ inventory_hostname }}.jsonl
EOF

echo "== ansible-playbook flash.yml (4 hosts, 4 forks)" >&2
status=0
(
  cd "$scratch"
  # The shipped ansible.cfg (retry file on), the retry file kept here.
  ANSIBLE_CONFIG="$repo/deploy/ansible/ansible.cfg" ANSIBLE_RETRY_FILES_SAVE_PATH="$scratch" ANSIBLE_NOCOLOR=1 \
    ansible-playbook -i inventory.ini --forks 4 "$repo/deploy/ansible/flash.yml"
) >"$scratch/play.log" 2>&1 || status=$?

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if [[ $status -eq 0 ]]; then
  fail "the play succeeded although branch-bad's and branch-hash's downloads failed"
fi
sed -n '/^PLAY RECAP/,$p' "$scratch/play.log" >&2
for host in branch-main branch-font branch-bad branch-hash; do
  want=0
  [[ $host == branch-bad || $host == branch-hash ]] && want=1
  grep -Eq "^$host +: .* failed=$want " "$scratch/play.log" || fail "$host: not failed=$want in the recap"
done
if [[ "$(sort "$scratch/flash.retry" 2>/dev/null | tr '\n' ' ')" != "branch-bad branch-hash " ]]; then
  fail "the retry file does not name branch-bad and branch-hash alone: $(cat "$scratch/flash.retry" 2>/dev/null)"
fi
# The refused image reached no printer: its emulated printer was never opened.
[[ ! -e $scratch/branch-hash.bin ]] || fail "branch-hash: the printer was opened"

# The reports, read back with Python's json and csv modules.
"$python" - "$scratch/report" "$main_sha" "$font_sha" <<'EOF' || fail "the reports"
import csv, json, sys

folder, main_sha, font_sha = sys.argv[1:]
# 1005: different CRC; 1044: the image is not the one whose hash was given.
want = {"branch-main": 1, "branch-font": 1, "branch-bad": 1005, "branch-hash": 1044}
hashes = {"branch-main": main_sha, "branch-font": font_sha, "branch-bad": font_sha,
          "branch-hash": main_sha}  # the history's (the image's own), else the one given
reached = {"branch-main": "completed", "branch-font": "completed",
           "branch-bad": "all-blocks-sent", "branch-hash": "nothing"}  # sector 18 goes last
keys = {"host", "port", "code", "message", "duration_s", "success", "sha256", "reached",
        "version", "expected_s", "history"}
problems = []

rows = json.load(open(f"{folder}/flash-report.json"))
if sorted(r["host"] for r in rows) != sorted(want):
    problems.append(f"JSON hosts {[r['host'] for r in rows]}")
for r in rows:
    if set(r) != keys:
        problems.append(f"JSON keys {sorted(r)}")
        continue
    code = want.get(r["host"])
    if r["code"] != code or r["success"] != (code == 1):
        problems.append(f"JSON {r['host']}: code {r['code']!r} success {r['success']!r}")
    if not r["message"] or not r["port"].startswith("sim:flash="):
        problems.append(f"JSON {r['host']}: message {r['message']!r} port {r['port']!r}")
    low = 0 if r["host"] == "branch-hash" else 5
    if not isinstance(r["duration_s"], (int, float)) or not low <= r["duration_s"] < 120:
        problems.append(f"JSON {r['host']}: duration_s {r['duration_s']!r}")
    # The refused image stopped at its plan: no download, so no record.
    refused = r["host"] == "branch-hash"
    if [r["sha256"], r["reached"]] != [hashes[r["host"]], reached[r["host"]]] or (
            not r["version"]) != refused:
        problems.append(f"JSON {r['host']}: sha256 {r['sha256']} reached {r['reached']!r} "
                        f"version {r['version']!r}")
    if r["history"].get("code") != (None if refused else code):
        problems.append(f"JSON {r['host']}: history record {r['history']}")
    if not isinstance(r["expected_s"], (int, float)) or (r["expected_s"] > 0) == refused:
        problems.append(f"JSON {r['host']}: expected_s {r['expected_s']!r}")
by_host = {r["host"]: r for r in rows}

with open(f"{folder}/flash-report.csv", newline="") as f:
    table = list(csv.reader(f))
if table[0] != ["host", "port", "code", "message", "duration_s", "sha256", "reached", "version",
                "expected_s"]:
    problems.append(f"CSV header {table[0]}")
if len(table) != 5:
    problems.append(f"CSV has {len(table) - 1} rows")
for host, port, code, message, duration, sha, far, version, expected in table[1:]:
    r = by_host.get(host)
    if r is None or [port, int(code), message, float(duration), sha, far, version,
                     float(expected)] != [r["port"], r["code"], r["message"], r["duration_s"],
                                          r["sha256"], r["reached"], r["version"], r["expected_s"]]:
        problems.append(f"CSV row {[host, port, code, message, duration]} differs from the JSON")

for r in rows:
    print(f"  {r['host']:12} {r['code']:5} {r['duration_s']:5}s (expected {r['expected_s']}s)  "
          f"{r['reached']:20} {r['message']}")
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
echo "check-fleet.sh: passed (the play failed for branch-bad and branch-hash alone; reports and flash contents right)"
