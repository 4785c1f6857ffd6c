#!/usr/bin/env python3
"""pulsara-cli diff of two captures over all 64 rows (32 one-probe rows, 32 three-probe
buses), whole process: random samples in both, so every row differs almost everywhere (the
longest report). Prints the best and the median wall time of --runs runs and the median CPU
time (user + system); the target is under 20 ms."""

import argparse
import os
import random
import resource
import statistics
import subprocess
import sys
import tempfile
import time


def write_capture(folder, name, seed):
    rng = random.Random(seed)
    with open(os.path.join(folder, name + ".wfa"), "wb") as f:
        f.write(bytes(rng.getrandbits(8) for _ in range(131072)))
    lines = ["#SYSPARM\t5,1,0,0,0,0"]
    lines += [f"P{p}\t{p}" for p in range(32)]
    lines += [f"BUS{r}\t{r},{(r + 1) % 32},{(r + 7) % 32}" for r in range(32)]
    with open(os.path.join(folder, name + ".wfd"), "w") as f:
        f.write("\r\n".join(lines) + "\r\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cli", required=True, help="path of pulsara-cli")
    parser.add_argument("--runs", type=int, default=50)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        write_capture(folder, "a", 1)
        write_capture(folder, "b", 2)
        command = [args.cli, "diff", os.path.join(folder, "a.wfa"), os.path.join(folder, "b.wfa")]
        check = subprocess.run(command, capture_output=True, cwd=folder)
        rows = check.stdout.decode().count("samples differ")
        if check.returncode != 1 or rows != 64:
            sys.exit(f"pulsara-cli diff gave status {check.returncode} and {rows} rows: "
                     f"{check.stderr.decode()}")
        wall, cpu = [], []
        for _ in range(args.runs):
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           cwd=folder)
            wall.append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu.append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    best, median = min(wall) * 1000, statistics.median(wall) * 1000
    print(f"pulsara-cli diff, 64 rows, {len(check.stdout)} bytes of report: best {best:.1f} ms, "
          f"median {median:.1f} ms, median CPU {statistics.median(cpu) * 1000:.1f} ms "
          f"(target: under 20 ms) {'OK' if median < 20 else 'TOO SLOW'}")


if __name__ == "__main__":
    main()
