#!/usr/bin/env bash
# Builds quillon-flash and runs a complete main firmware download into the
# built-in emulated printer, with the progress display. The sample image is
# made here from random bytes; the emulated flash is kept in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target quillon-flash >/dev/null

mkdir -p build/demo
head -c 196608 /dev/urandom > build/demo/sample.mfw
build/release/cli/quillon-flash --type main --port \
  "sim:flash=build/demo/flash.bin,log=build/demo/transcript.txt" build/demo/sample.mfw
