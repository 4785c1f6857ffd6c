#!/usr/bin/env python3
"""pulsara-cli decode against sigrok-cli on the same 32768-sample UART capture, whole process
against whole process (both load the same decoders from libsigrokdecode). Prints the best
and the median wall time of --runs runs of each, the median CPU time (user + system, all
threads: steadier than wall time on a busy machine), the ratio sigrok-cli / pulsara-cli of
the best wall times (the target is at least 1) and whether both printed the same lines."""

import argparse
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def uart_capture(path):
    # 100000 baud at 1 MHz on probe 0, 8N1 frames back to back: 10 samples a bit.
    rng = random.Random(7)
    samples = []
    while len(samples) < 32768:
        byte = rng.getrandbits(8)
        bits = [0] + [(byte >> b) & 1 for b in range(8)] + [1]
        for bit in bits:
            samples.extend([bit] * 10)
    with open(path, "wb") as f:
        f.write(b"".join(bytes((s, 0, 0, 0)) for s in samples[:32768]))


def timed(command, runs):
    wall = []
    cpu = []
    for _ in range(runs):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        wall.append(time.perf_counter() - start)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    return min(wall) * 1000, statistics.median(wall) * 1000, statistics.median(cpu) * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True, help="path of pulsara-cli")
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    if shutil.which("sigrok-cli") is None:
        sys.exit("sigrok-cli is not installed (scripts/install-deps.sh installs it)")
    with tempfile.TemporaryDirectory() as scratch:
        wfa = os.path.join(scratch, "uart.wfa")
        uart_capture(wfa)
        stack = "uart:rx=0:baudrate=100000"
        cases = [
            ("all annotations",
             [args.cli, "decode", wfa, "-P", stack, "--samplerate", "1000000"],
             ["sigrok-cli", "-I", "binary:numchannels=32:samplerate=1000000", "-i", wfa,
              "-P", stack, "--protocol-decoder-samplenum"]),
            ("-A uart=rx-data",
             [args.cli, "decode", wfa, "-P", stack, "--samplerate", "1000000", "-A", "uart=rx-data"],
             ["sigrok-cli", "-I", "binary:numchannels=32:samplerate=1000000", "-i", wfa,
              "-P", stack, "-A", "uart=rx-data", "--protocol-decoder-samplenum"]),
        ]
        print(f"{'case':18}{'lines':>7}{'same':>6}{'pulsara best/median/cpu':>30}"
              f"{'sigrok best/median/cpu':>30}{'ratio (best)':>14}")
        for name, ours, theirs in cases:
            a = subprocess.run(ours, capture_output=True, check=True).stdout
            b = subprocess.run(theirs, capture_output=True, check=True).stdout
            lines = a.count(b"\n")
            p = timed(ours, args.runs)
            s = timed(theirs, args.runs)
            print(f"{name:18}{lines:>7}{'yes' if a == b else 'NO':>6}"
                  f"{p[0]:>11.1f} /{p[1]:>6.1f} /{p[2]:>6.1f} ms"
                  f"{s[0]:>11.1f} /{s[1]:>6.1f} /{s[2]:>6.1f} ms"
                  f"{s[0] / p[0]:>13.2f}x")


if __name__ == "__main__":
    main()
