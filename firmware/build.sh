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

# Neither sdld nor srec_cat 1.64 refuses two absolute blocks on one address (sdld only
# moves relocatable code around absolute blocks). So every byte the linker placed must
# appear exactly once in the hex file.
placed=$(awk '/ bytes \(/ { sub(/\./, "", $(NF-2)); n += $(NF-2) } END { print n + 0 }' pulsara-fw.map)
awk -v placed="$placed" '
  function hex(s,   v, i) {
    v = 0
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789ABCDEF", toupper(substr(s, i, 1))) - 1
    return v
  }
  /^:/ {
    count = hex(substr($0, 2, 2)); addr = hex(substr($0, 4, 4)); type = substr($0, 8, 2)
    if (type != "00") next
    for (i = 0; i < count; i++) {
      a = addr + i
      if (a in seen) { printf "build.sh: two blocks at 0x%04X\n", a > "/dev/stderr"; bad = 1 }
      seen[a] = 1; total++
    }
  }
  END {
    if (total != placed) {
      printf "build.sh: the linker placed %d bytes but the hex file holds %d: blocks overlap\n", placed, total > "/dev/stderr"
      bad = 1
    }
    exit bad
  }' pulsara-fw.ihx

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
