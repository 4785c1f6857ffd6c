#!/usr/bin/env python3
"""Runs one 8051 test program in ucsim's s51 and in pulsara-mcs51 and compares the
registers, the 256 bytes of internal RAM and xdata 0x0000-0x1FFF at the label `done`.

usage: run_diff.py PULSARA_MCS51 SOURCE(.asm|.c) WORKDIR
"""
import json
import os
import re
import subprocess
import sys


def build(source, work):
    base = os.path.join(work, os.path.splitext(os.path.basename(source))[0])
    if source.endswith(".c"):
        subprocess.run(["sdcc", "-mmcs51", "--iram-size", "256", "--xram-loc", "0x1000",
                        "--xram-size", "0x1000", "--code-size", "0x1000", "-o", base + ".ihx",
                        source], check=True, cwd=work)
        text = open(base + ".map").read()
        m = re.search(r"\b([0-9A-F]{8})\s+_done\b", text)
    else:
        subprocess.run(["sdas8051", "-plosgff", "-o", base + ".rel", source], check=True,
                       cwd=os.path.dirname(source))
        subprocess.run(["sdld", "-n", "-i", "-u", base + ".ihx", base + ".rel"], check=True)
        text = open(base + ".sym").read()
        m = re.search(r"\bdone\s*=?\s+([0-9A-Fa-f]{4,})", text)
    if not m:
        sys.exit(f"{source}: no label 'done' to stop at")
    return base + ".ihx", int(m.group(1), 16)


def run_s51(ihx, stop):
    cmds = ["memory create addressdecoder xram 0 0x1fff rom_chip 0",
            "fill iram 0 0xff 0", "fill xram 0 0x1fff 0", f'load "{ihx}"',
            f"break 0x{stop:04x}", "run", "info registers", "di 0 0xff",
            "dx 0 0x1fff", "quit"]
    args = ["s51", "-t", "8052", "-q", "-b"]
    for c in cmds:
        args += ["-e", c]
    out = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         timeout=120).stdout
    tail = out[out.rfind("Stop at"):]
    pc = re.search(r"Stop at 0x([0-9a-f]+)", tail)
    regs = tail[tail.rfind("R0 R1"):]
    def reg(name):
        return int(re.search(name + r"= ?0x([0-9a-f]+)", regs).group(1), 16)
    iram = bytearray(256)
    xram = bytearray(0x2000)
    lines = [l for l in tail.splitlines() if re.match(r"^0x[0-9a-f]+ [0-9a-f]{2}", l)]
    # The first 32 dump lines are iram (8 bytes each), the rest xram.
    for n, line in enumerate(lines):
        parts = line.split()
        addr = int(parts[0], 16)
        data = [int(b, 16) for b in parts[1:9] if re.fullmatch(r"[0-9a-f]{2}", b)]
        target = iram if n < 32 else xram
        target[addr:addr + len(data)] = bytes(data)
    return {"pc": int(pc.group(1), 16), "a": reg("ACC"), "b": reg("B"), "psw": reg("PSW"),
            "sp": int(re.search(r"SP 0x([0-9a-f]+)", regs).group(1), 16),
            "dptr0": reg("DPTR"), "iram": iram, "xram": xram}


def run_ours(tool, ihx, stop):
    out = subprocess.run([tool, "run", ihx, "--until-pc", hex(stop), "--max-cycles", "400000000"],
                         capture_output=True, text=True, check=True).stdout
    d = json.loads(out)
    d["iram"] = bytes.fromhex(d["iram"])
    d["xram"] = bytes.fromhex(d["xram"])
    return d


def main():
    tool, source, work = sys.argv[1:4]
    source = os.path.abspath(source)
    os.makedirs(work, exist_ok=True)
    ihx, stop = build(source, work)
    ours = run_ours(tool, ihx, stop)
    ref = run_s51(ihx, stop)
    if ours["stop"] != "pc":
        sys.exit(f"{source}: pulsara-mcs51 stopped by {ours['stop']} at 0x{ours['pc']:04x}, "
                 f"not at done (0x{stop:04x})")
    bad = []
    for k in ("pc", "a", "b", "psw", "sp", "dptr0"):
        if ours[k] != ref[k]:
            bad.append(f"{k}: ours 0x{ours[k]:x}, s51 0x{ref[k]:x}")
    for space in ("iram", "xram"):
        diffs = [i for i in range(len(ref[space])) if ours[space][i] != ref[space][i]]
        for i in diffs[:16]:
            bad.append(f"{space}[0x{i:04x}]: ours 0x{ours[space][i]:02x}, s51 0x{ref[space][i]:02x}")
        if len(diffs) > 16:
            bad.append(f"... {len(diffs)} {space} bytes differ")
    if bad:
        print(f"{source}: differs from s51 at done (0x{stop:04x}):")
        print("\n".join("  " + b for b in bad))
        sys.exit(1)
    print(f"{source}: same as s51 ({ours['instructions']} instructions)")


if __name__ == "__main__":
    main()
