#!/usr/bin/env python3
"""pulsara-cli find --count against sigrok-cli piped through grep -c, whole process against
whole process, on the same 32768-sample UART capture: how many received bytes hold a given
hex digit. Prints the best and median wall time of --runs runs of each, the ratio of the
best times (the target is at least 2) and whether both counted the same.

find keeps a decoded capture in its cache folder, so it is timed twice: "kept", asking
about a capture it has decoded before (the first digit's first run decodes it), and
"--no-cache", decoding afresh every run as sigrok-cli does. The cache folder is a fresh
one under the scratch folder, so the user's own is neither used nor touched."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_sigrok import timed, uart_capture  # noqa: E402


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
        definition = os.path.join(scratch, "def.txt")
        with open(definition, "wb") as f:
            f.write(b"#SYSPARM 10,0,0,0,0,0\r\nRX 0\r\n")  # 1MHz, the UART on probe 0
        os.environ["XDG_CACHE_HOME"] = os.path.join(scratch, "cache")
        print(f"{'bytes holding':14}{'count':>6}{'same':>5}{'find, kept':>20}"
              f"{'find --no-cache':>20}{'sigrok|grep':>20}{'ratio kept':>12}"
              f"{'ratio no-cache':>16}")
        for digit in ["A", "7", "0"]:
            ours = [args.cli, "find", "--def", definition, wfa, "-P", "uart:rx=RX:baudrate=100000",
                    "-A", "uart=rx-data", "--text", digit, "--count"]
            theirs = (f"sigrok-cli -I binary:numchannels=32:samplerate=1000000 -i '{wfa}' "
                      f"-P uart:rx=0:baudrate=100000 -A uart=rx-data "
                      f"--protocol-decoder-samplenum | grep -c ': .*{digit}'")
            theirs = ["sh", "-c", theirs]
            a = subprocess.run(ours, capture_output=True, text=True).stdout.strip()
            fresh = subprocess.run(ours + ["--no-cache"], capture_output=True, text=True)
            b = subprocess.run(theirs, capture_output=True, text=True).stdout.strip()
            same = a == b == fresh.stdout.strip()
            kept = timed(ours, args.runs)
            afresh = timed(ours + ["--no-cache"], args.runs)
            s = timed(theirs, args.runs)
            print(f"{digit:14}{a:>6}{'yes' if same else 'NO':>5}"
                  f"{kept[0]:>9.1f} /{kept[1]:>5.1f} ms{afresh[0]:>9.1f} /{afresh[1]:>5.1f} ms"
                  f"{s[0]:>9.1f} /{s[1]:>5.1f} ms{s[0] / kept[0]:>11.2f}x{s[0] / afresh[0]:>15.2f}x")


if __name__ == "__main__":
    main()
