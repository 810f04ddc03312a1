#!/usr/bin/python3
"""Start-up time of kelvora beside a hello-world C++ program and /bin/true.

Times, as fresh processes, `kelvora --help`, `kelvora --plots=none` with the
answer 5 (exit at the main menu), the hello-world program of the benchmark
build and /bin/true. The four commands take turns in every round, in a
shuffled order, so that whatever else the machine does falls on all of them
alike. Prints the median, the 10th and 90th percentiles of each, and the
ratio of each median to the hello-world median.

Usage: startup_bench.py [KELVORA [HELLO]] [--runs N] [--seed S]
  KELVORA  default build/release/kelvora
  HELLO    default build/bench/hello_world (built with -DKELVORA_BENCH=ON)
"""

import argparse
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run_once(argv, stdin_bytes, cwd):
    """Wall time of one run, from spawn to exit, in seconds."""
    start = time.perf_counter()
    done = subprocess.run(argv, input=stdin_bytes, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, cwd=cwd, check=False)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"{' '.join(argv)} exited with status {done.returncode}")
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("kelvora", nargs="?", default=os.path.join(ROOT, "build/release/kelvora"))
    parser.add_argument("hello", nargs="?", default=os.path.join(ROOT, "build/bench/hello_world"))
    parser.add_argument("--runs", type=int, default=100, help="runs of each command (100)")
    parser.add_argument("--seed", type=int, default=1, help="seed of the run order")
    args = parser.parse_args()
    if args.runs < 2:
        parser.error("--runs must be at least 2 (the percentiles need two runs)")
    for program in (args.kelvora, args.hello):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program}: not an executable (build it first; see README)")

    kelvora = os.path.abspath(args.kelvora)
    commands = [
        ("kelvora --help", [kelvora, "--help"], None),
        ("echo 5 | kelvora --plots=none", [kelvora, "--plots=none"], b"5\n"),
        ("hello_world", [os.path.abspath(args.hello)], None),
        ("/bin/true", ["/bin/true"], None),
    ]
    times = {label: [] for label, _, _ in commands}
    order = random.Random(args.seed)
    # The program writes nothing at the menu, but run it where it could.
    with tempfile.TemporaryDirectory(prefix="kelvora_startup_") as scratch:
        for label, argv, stdin_bytes in commands:  # warm the page cache
            run_once(argv, stdin_bytes, scratch)
        for _ in range(args.runs):
            round_robin = commands[:]
            order.shuffle(round_robin)
            for label, argv, stdin_bytes in round_robin:
                times[label].append(run_once(argv, stdin_bytes, scratch))

    hello = statistics.median(times["hello_world"])
    print(f"Start-up, {args.runs} runs of each, interleaved (wall time per process, ms)")
    print(f"{'command':<32}{'median':>9}{'p10':>9}{'p90':>9}{'x hello':>10}")
    for label, _, _ in commands:
        t = sorted(times[label])
        deciles = statistics.quantiles(t, n=10)
        median = statistics.median(t)
        print(f"{label:<32}{median * 1e3:9.3f}{deciles[0] * 1e3:9.3f}{deciles[-1] * 1e3:9.3f}"
              f"{median / hello:10.2f}")


if __name__ == "__main__":
    main()
