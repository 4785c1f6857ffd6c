#!/usr/bin/env bash
# Writes the import corpus again from src/ with the tools that write such files in the field
# (scripts/install-deps.sh installs them). Beside each session it leaves sigrok-cli's CSV of
# it (NAME.sr.csv), which the import test holds every sample against; the VCDs are checked
# by a reader of its own in the test. (GTKWave's vcd2fst is no reference here: it drops a
# 1-bit signal's changes to U, X, Z, W, L and H, see gtkwave-ghdl.vcd.)
# Usage: tests/capture/corpus/make-corpus.sh (from anywhere); run it only to change the corpus.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# Icarus Verilog
iverilog -g2012 -o counter "$here/src/counter.v" && vvp -n counter >/dev/null
iverilog -g2012 -o wide "$here/src/wide.v" && vvp -n wide >/dev/null
# GHDL (its dumps are in femtoseconds)
ghdl -a --std=08 "$here/src/nine_values.vhd"
ghdl -e --std=08 nine_values
ghdl -r --std=08 nine_values --vcd=ghdl.vcd --stop-time=500ns >/dev/null
# Verilator
verilator --cc --trace --exe --build -j 2 -Wno-fatal -o vparam \
  "$here/src/param_counter.v" "$here/src/param_counter_tb.cpp" >/dev/null
obj_dir/vparam
# GTKWave's converters: a Verilog and a GHDL dump as GTKWave writes them back
vcd2fst iverilog-wide.vcd wide.fst >/dev/null && fst2vcd wide.fst >gtkwave-wide.vcd
vcd2fst ghdl.vcd ghdl.fst >/dev/null && fst2vcd ghdl.fst >gtkwave-ghdl.vcd

# sigrok-cli: its demo device as a session and as a VCD, a subset of its channels, channels
# named like pulsara's unshown probes, 64 channels, and raw bytes saved without a rate
# (samplerate=0, as it also writes when it re-saves such a session).
demo="sigrok-cli -d demo --config samplerate=1m"
$demo --samples 600 --channels D0,D1,D2,D3,D4,D5,D6,D7 -o sigrok-demo.sr
sigrok-cli -i sigrok-demo.sr -O vcd -o sigrok-demo.vcd
$demo --samples 600 --channels D1,D3,D6 -o sigrok-subset.sr
$demo --samples 600 --channels D0=D0,D1=D1,D2=P2,D3=P3,D4=P4,D5=P5,D6=P6,D7=P7 -o sigrok-p-names.sr
sigrok-cli -d demo:logic_channels=64 --config samplerate=1m --samples 200 \
  --channels "$(seq -s, -f D%g 0 63)" -o sigrok-64.sr
head -c 1200 /dev/urandom >raw.bin
sigrok-cli -I binary:numchannels=8 -i raw.bin -o sigrok-norate.sr

cp iverilog-late.vcd iverilog-wide.vcd ghdl.vcd verilator.vcd gtkwave-wide.vcd \
  gtkwave-ghdl.vcd sigrok-demo.vcd "$here/"
for f in sigrok-demo.sr sigrok-subset.sr sigrok-p-names.sr sigrok-64.sr sigrok-norate.sr; do
  cp "$f" "$here/$f"
  sigrok-cli -i "$f" -O csv >"$here/$f.csv"
done
