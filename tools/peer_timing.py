#!/usr/bin/python3
"""A whole one-curve analysis by kelvora beside the same work in NumPy/SciPy.

Times, as fresh processes, each in a fresh scratch directory holding only
the curve file EX1_SAT.CRV (written by the program's main-menu choice 4):

  peer     /usr/bin/python3 tools/peer_fit.py EX1_SAT.CRV
           (one-site fit, 100-replicate bootstrap, result file)
  none     kelvora --seed 5 --plots=none with the answers of a one-site
           analysis of EX1_SAT with every default (automatic estimates,
           the fit, the 100-replicate bootstrap, the reports and the result
           files), then exit at the menu
  png      the same with --plots=png (the plot written as an image file)
  import   /usr/bin/python3 importing NumPy and scipy.optimize only: the
           part of the peer's time that is the interpreter's start-up
  work     the peer's own time from after its imports to its end, as it
           reports it: the strictest yardstick, a peer that pays no start-up

The three take turns in every round, in a shuffled order, so that machine
noise falls on all alike. A run counts only if it exits with status 0 and
leaves its result files. Prints, per command, the median wall time (with the
10th and 90th percentiles) and the median CPU time (user + system; kelvora
runs the bootstrap on every processor, the peer on one), and the ratios of
the kelvora medians to the peer's.

Usage: peer_timing.py [--kelvora PATH] [--runs 21] [--seed 5]
"""

import argparse
import math
import os
import random
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.abspath(__file__))
PEER = os.path.join(ROOT, "peer_fit.py")
PYTHON = "/usr/bin/python3"
CURVE = "EX1_SAT.CRV"
# Main menu 1 (analysis), stem ex1, curve EX1_SAT and the end of the list,
# one site, the default constant parameters (C1 B1), their values, the three
# initial estimates, proceed, automatic estimates; no further fit; menu 5
# (exit).
ANSWERS = b"1\nex1\nEX1_SAT\n\n1\n\n\n\n\n\n\n\n\nN\n5\n"


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(argv, stdin_bytes, cwd, env):
    """(wall, cpu, output) of one run, in seconds; exits on a failed run."""
    cpu0 = children_cpu()
    start = time.perf_counter()
    done = subprocess.run(argv, input=stdin_bytes, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, cwd=cwd, env=env, check=False)
    wall = time.perf_counter() - start
    cpu = children_cpu() - cpu0
    if done.returncode != 0:
        sys.stdout.write(done.stdout.decode("latin-1")[-2000:])
        sys.exit(f"{' '.join(argv)} in {cwd}: exit status {done.returncode}")
    return wall, cpu, done.stdout.decode("latin-1")


def write_example_curve(kelvora, directory):
    """EX1_SAT.CRV as the program writes it (menu choice 4, then exit)."""
    subprocess.run([kelvora, "--plots=none"], input=b"4\n5\n", stdout=subprocess.DEVNULL,
                   cwd=directory, check=True)
    path = os.path.join(directory, CURVE)
    if not os.path.isfile(path):
        sys.exit(f"{kelvora} did not write {CURVE}")
    return path


def main():
    default_kelvora = os.path.join(os.path.dirname(ROOT), "build/release/kelvora")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--kelvora", default=default_kelvora)
    parser.add_argument("--runs", type=int, default=21, help="runs of each command (21)")
    parser.add_argument("--seed", type=int, default=5,
                        help="kelvora --seed, the peer's --seed and the run order")
    args = parser.parse_args()
    if args.runs < 2:
        parser.error("--runs must be at least 2 (the percentiles need two runs)")
    kelvora = os.path.abspath(args.kelvora)
    if not os.access(kelvora, os.X_OK):
        sys.exit(f"{kelvora}: not an executable (build it first; see README)")

    env = dict(os.environ, SOURCE_DATE_EPOCH="0")
    seed = str(args.seed)
    commands = {
        "peer": ([PYTHON, PEER, CURVE, "--seed", seed], None, ["EX1_SAT_peer.out"]),
        "none": ([kelvora, "--seed", seed, "--plots=none"], ANSWERS,
                 ["ex1.out", "ex1_Plot.out", "ex1_Scatchard.out"]),
        "png": ([kelvora, "--seed", seed, "--plots=png"], ANSWERS,
                ["ex1.out", "ex1_Plot.out", "ex1_Scatchard.out", "ex1_curve1.png"]),
        "import": ([PYTHON, "-c", "import numpy, scipy.optimize"], None, []),
    }
    wall = {name: [] for name in commands}
    cpu = {name: [] for name in commands}
    wall["work"] = []
    order = random.Random(args.seed)
    with tempfile.TemporaryDirectory(prefix="kelvora_peer_") as scratch:
        curve = write_example_curve(kelvora, scratch)
        for run in range(-1, args.runs):  # run -1 warms the caches, uncounted
            names = list(commands)
            order.shuffle(names)
            for name in names:
                argv, answers, outputs = commands[name]
                directory = os.path.join(scratch, f"{name}_{run + 1}")
                os.mkdir(directory)
                shutil.copy(curve, directory)
                w, c, output = timed(argv, answers, directory, env)
                missing = [f for f in outputs if not os.path.isfile(os.path.join(directory, f))]
                if missing:
                    sys.exit(f"{name}: no {', '.join(missing)} in {directory}")
                if run >= 0:
                    wall[name].append(w)
                    cpu[name].append(c)
                    if name == "peer":
                        work = re.search(r"peer work: ([0-9.]+) s", output)
                        wall["work"].append(float(work.group(1)) if work else math.nan)
                shutil.rmtree(directory)

    print(f"One-curve analysis of {CURVE}, {args.runs} runs of each, interleaved (seconds)")
    print(f"{'':<7}{'wall median':>12}{'p10':>8}{'p90':>8}{'cpu median':>12}")
    for name in commands:
        deciles = statistics.quantiles(wall[name], n=10)
        print(f"{name:<7}{statistics.median(wall[name]):12.3f}{deciles[0]:8.3f}"
              f"{deciles[-1]:8.3f}{statistics.median(cpu[name]):12.3f}")
    work = statistics.median(wall["work"])
    print(f"{'work':<7}{work:12.3f}   (the peer's own time after its imports)")
    peer_wall, peer_cpu = statistics.median(wall["peer"]), statistics.median(cpu["peer"])
    for name in ("none", "png"):
        print(f"kelvora --plots={name} / peer: wall {statistics.median(wall[name]) / peer_wall:.3f},"
              f" cpu {statistics.median(cpu[name]) / peer_cpu:.3f},"
              f" wall / peer work {statistics.median(wall[name]) / work:.3f}")


if __name__ == "__main__":
    main()
