#!/usr/bin/env bash
# Rebuilds the board image from src/ into OUT_DIR (default: a temporary directory) and
# prints the path of the 4096-byte binary. With --update it also replaces the committed
# pulsara-fw.bin. Needs sdas8051/sdld (sdcc) and srec_cat (srecord).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
update=0
out=""
for arg in "$@"; do
  case "$arg" in
    --update) update=1 ;;
    *) out=$arg ;;
  esac
done
if [ -z "$out" ]; then
  out=$(mktemp -d)
fi
mkdir -p "$out"

for tool in sdas8051 sdld srec_cat; do
  command -v "$tool" >/dev/null || { echo "build.sh: $tool not found; run scripts/install-deps.sh" >&2; exit 2; }
done

# Link order fixes the code layout: the code area starts at 0x0080, after the vectors.
modules=(vectors startup isr setup commands transfer descriptors)
rels=()
for m in "${modules[@]}"; do
  cp "$here/src/$m.asm" "$out/"
  rels+=("$m.rel")
done
cp "$here"/src/*.inc "$out/"
cd "$out"
for m in "${modules[@]}"; do
  sdas8051 -plosgff "$m.asm"
done
sdld -n -i -m -u -b CSEG=0x0080 pulsara-fw.ihx "${rels[@]}"

# srec_cat refuses two records for one address, so code that grows into the descriptor
# table or the jump table fails here instead of silently overwriting it.
srec_cat -disable-sequence-warnings pulsara-fw.ihx -intel -fill 0xAA 0x0000 0x1000 -o pulsara-fw.bin -binary

size=$(stat -c %s pulsara-fw.bin)
if [ "$size" -ne 4096 ]; then
  echo "build.sh: $out/pulsara-fw.bin is $size bytes, not 4096 (something was placed above 0x0FFF)" >&2
  exit 1
fi
if [ "$update" -eq 1 ]; then
  cp pulsara-fw.bin "$here/pulsara-fw.bin"
fi
echo "$out/pulsara-fw.bin"
