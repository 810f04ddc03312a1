#!/usr/bin/env python3
"""Times `kelvora fit` on a plate of one-site competition curves.

Writes PLATE_SIZE (default 96) competition curves, each of a labelled ligand
held at 1 nM against a competitor in 10 concentrations from 10 pM to 100 uM,
from the exact one-site model with 2 % normal noise (seeded), into a folder;
fits each with the options of the README's batch loop (or the options given
after --), and prints the median, the quartiles and the slowest wall
time of one fit.

  bench/competition_plate.py [--size N] [--folder DIR] [--kelvora PATH]
                             [-- fit options...]
"""
import argparse
import math
import os
import random
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def bound_hot(k_hot, k_cold, receptor, hot, cold):
    """Bound labelled ligand of the exact one-site two-ligand model (no
    nonspecific binding): the free concentrations solve
    Th = Fh (1 + Kh R / D), Tc = Fc (1 + Kc R / D), D = 1 + Kh Fh + Kc Fc,
    found here by bisection on the labelled ligand's free concentration."""
    def free_cold(fh):
        lo, hi = 0.0, cold
        for _ in range(200):
            fc = 0.5 * (lo + hi)
            d = 1.0 + k_hot * fh + k_cold * fc
            if fc * (1.0 + k_cold * receptor / d) > cold:
                hi = fc
            else:
                lo = fc
        return 0.5 * (lo + hi)

    lo, hi = 0.0, hot
    for _ in range(200):
        fh = 0.5 * (lo + hi)
        fc = free_cold(fh) if cold > 0 else 0.0
        d = 1.0 + k_hot * fh + k_cold * fc
        if fh * (1.0 + k_hot * receptor / d) > hot:
            hi = fh
        else:
            lo = fh
    fh = 0.5 * (lo + hi)
    return hot - fh


def write_plate(folder, size, seed=20261207):
    rng = random.Random(seed)
    os.makedirs(folder, exist_ok=True)
    names = []
    for i in range(size):
        well = "%s%02d" % ("ABCDEFGH"[i // 12 % 8], i % 12 + 1)
        name = os.path.join(folder, well + ".CRV")
        k_cold = 10 ** rng.uniform(7.5, 9.5)
        lines = ['"Competition %s: Kd(cold) %.3g M"' % (well, 1 / k_cold),
                 "0.0, 0.0, 0.0004, 0.0, 0.0", "2, 1", "1.0E-09"]
        for e in range(10):
            cold = 10 ** (-11 + e * 6 / 9)
            b = bound_hot(1e9, k_cold, 2e-10, 1e-9, cold)
            b *= 1 + 0.02 * rng.gauss(0, 1)
            lines.append("%.4E, %.4E, 3" % (cold, b))
        with open(name, "w") as f:
            f.write("\n".join(lines) + "\n")
        names.append(name)
    return names


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=int, default=96)
    parser.add_argument("--folder", default="plate")
    parser.add_argument("--kelvora", default=os.path.join(ROOT, "build", "release", "kelvora"))
    parser.add_argument("options", nargs="*")
    args = parser.parse_args()
    # The options of the README's batch loop.
    options = args.options or ["--quiet", "--plots=none", "--bootstrap", "0", "--hold",
                               "C1,B1,K11=1E9,N2=0"]
    names = write_plate(args.folder, args.size)
    times = []
    for name in names:
        start = time.perf_counter()
        done = subprocess.run([args.kelvora, "fit", *options, name],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.perf_counter() - start)
        if done.returncode != 0:
            print("%s: exit status %d" % (name, done.returncode), file=sys.stderr)
    q = statistics.quantiles(times, n=4)
    print("kelvora fit %s, %d curves: median %.1f ms, quartiles %.1f-%.1f ms, slowest %.1f ms"
          % (" ".join(options), len(times), 1e3 * statistics.median(times), 1e3 * q[0],
             1e3 * q[2], 1e3 * max(times)))


if __name__ == "__main__":
    main()
