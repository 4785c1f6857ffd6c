#!/usr/bin/env python3
"""pulsara-cli export against sigrok-cli on the same busy capture, whole process against
whole process: VCD and sigrok session (.sr) output. Prints the best and the median of
--runs runs of each and the ratio sigrok-cli / pulsara-cli (the target is at least 2)."""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def busy_capture(path):
    # Every probe changes in about half of all samples.
    rng = random.Random(11)
    with open(path, "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(131072)))


def timed(command, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - start)
    return min(times) * 1000, statistics.median(times) * 1000


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True, help="path of pulsara-cli")
    parser.add_argument("--runs", type=int, default=30)
    args = parser.parse_args()
    if shutil.which("sigrok-cli") is None:
        sys.exit("sigrok-cli is not installed (scripts/install-deps.sh installs it)")
    with tempfile.TemporaryDirectory() as scratch:
        wfa = os.path.join(scratch, "busy.wfa")
        busy_capture(wfa)
        # The sample rate keeps sigrok-cli's VCD writer from dividing by zero (it does
        # without one); 10 MHz is what the capture's rate index 0 would not be, but any
        # rate costs the same.
        sigrok_in = ["sigrok-cli", "-I", "binary:numchannels=32:samplerate=10000000", "-i", wfa]
        cases = [
            ("VCD", [args.cli, "export", wfa, "--vcd", os.path.join(scratch, "p.vcd")],
             sigrok_in + ["-O", "vcd", "-o", os.path.join(scratch, "s.vcd")]),
            (".sr", [args.cli, "export", wfa, "--sr", os.path.join(scratch, "p.sr")],
             sigrok_in + ["-o", os.path.join(scratch, "s.sr")]),
        ]
        startup = timed([args.cli, "--help"], args.runs)
        print(f"pulsara-cli start-up alone (--help): best {startup[0]:.1f} ms, "
              f"median {startup[1]:.1f} ms")
        print(f"{'format':8}{'pulsara best/median':>24}{'sigrok best/median':>24}{'ratio (best)':>14}")
        for name, ours, theirs in cases:
            p = timed(ours, args.runs)
            s = timed(theirs, args.runs)
            print(f"{name:8}{p[0]:>11.1f} /{p[1]:>6.1f} ms{s[0]:>11.1f} /{s[1]:>6.1f} ms"
                  f"{s[0] / p[0]:>13.2f}x")


if __name__ == "__main__":
    main()
