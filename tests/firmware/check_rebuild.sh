#!/usr/bin/env bash
# Rebuilds the firmware from source and compares it with the committed image, byte for
# byte. Exit 77 (skipped) when the 8051 tool chain is not installed.
set -uo pipefail
src=$1
out=$2
for tool in sdas8051 sdld srec_cat; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 77; }
done
rm -rf "$out"
built=$("$src/firmware/build.sh" "$out") || { echo "firmware/build.sh failed"; exit 1; }
if ! cmp "$built" "$src/firmware/pulsara-fw.bin"; then
  echo "firmware/pulsara-fw.bin does not match firmware/src; rebuild it with firmware/build.sh --update and commit"
  exit 1
fi
echo "firmware/pulsara-fw.bin matches its source"
