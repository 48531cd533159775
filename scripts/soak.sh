#!/usr/bin/env bash
# Builds the debug preset's fault soak and runs N seeded downloads per
# interface (default 1000), printing the Markdown table of docs/reliability.md.
# Further arguments go to the program, e.g. --seed 7 or --interface usb.
#   scripts/soak.sh 1000
#   scripts/soak.sh 200 --seed 42 --interface parallel
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-1000}
shift || true
cmake --preset debug >/dev/null
cmake --build --preset debug -j"$(nproc)" --target quillon-soak >/dev/null
exec build/debug/tests/soak/quillon-soak --runs "$runs" "$@"
