#!/usr/bin/python3
"""A NumPy/SciPy peer of KELVORA's one-curve analysis, as a yardstick.

Reads one saturation curve file (.CRV), fits the exact one-site mass-action
model with nonspecific binding by weighted least squares, refits 100
bootstrap resamples of the points, prints the parameters with their
bootstrap standard errors and writes them to STEM_peer.out. It does the work
of `kelvora` on such a curve (fit, bootstrap, a result file) without its
minimiser sequence or reports, so that tools/peer_timing.py can put the two
side by side.

Model, for total labelled ligand T and parameters K (association constant,
1/M), R (receptor concentration, M) and N (nonspecific ratio), with the
correction factor and cooperativity fixed at 1: the free ligand F solves

    T = F (1 + N) + K R F / (1 + K F),

that is a F^2 + b F - T = 0 with a = K (1 + N), b = 1 + N + K R - K T, and the
prediction is the bound ligand Yhat = T - F (specific plus nonspecific).

Objective: sum of w (Y - Yhat)^2 with w = r / (a0 + a1 Yhat + a2 Yhat^2 +
a3 |Yhat|^a4), r the point's replicate count and a0..a4 line 2 of the file;
the weight follows the prediction, so the residuals handed to
least_squares are sqrt(w(Yhat)) (Y - Yhat). K and R are fitted as log10 values
(they span decades), N as itself, within the program's ranges K 1e5-1e14,
R 1e-14-1e-5, N 0-0.5.

Start: the linear regression of B/F on 1, F and B (F = T - B from the
measured bound B), which follows from the model as
B/F = (N + K R) + K N F - K B.

Bootstrap: resample the points (with their replicate counts) with
replacement, refit from the fitted values, keep a refit whose sum of squares
is at most twice that of its start, and take the sample standard deviation
(divisor m - 1) and the 2.5 and 97.5 percentiles (linear interpolation
between order statistics) of the kept values.

Usage: peer_fit.py CURVE.CRV [--replicates 100] [--seed 5] [--out FILE]
"""

import argparse
import math
import os
import re
import sys
import time

import numpy as np
from scipy.optimize import least_squares

NAMES = ("K11", "R1", "N1")
K_RANGE = (1e5, 1e14)
R_RANGE = (1e-14, 1e-5)
N_RANGE = (0.0, 0.5)
# Variables x = (log10 K, log10 R, N).
LOWER = np.array([math.log10(K_RANGE[0]), math.log10(R_RANGE[0]), N_RANGE[0]])
UPPER = np.array([math.log10(K_RANGE[1]), math.log10(R_RANGE[1]), N_RANGE[1]])
TOLERANCE = 1e-12

_NUMBER = re.compile(r"^[+-]?(\d+\.?\d*|\.\d+)([eEdD][+-]?\d+)?$")


class Curve:
    def __init__(self, title, coef, varying, labelled, hot, total, bound, replicates):
        self.title = title
        self.coef = coef
        self.varying = varying
        self.labelled = labelled
        self.hot = hot
        self.total = total
        self.bound = bound
        self.replicates = replicates


def _number(item):
    """The value of one item, or None when it is not a number (1.0D-9 too)."""
    if not _NUMBER.match(item):
        return None
    return float(item.replace("d", "e").replace("D", "e"))


def _items(line):
    return [item for item in re.split(r"[\s,]+", line.strip()) if item]


def read_curve(path):
    """Reads a curve file: title; a0..a4; varying and labelled ligand; the
    fixed labelled concentration; then (total, bound, replicates) triples,
    up to the first item that is not a number. Replicates of 0 or less
    count as 1."""
    with open(path, encoding="latin-1") as f:
        lines = f.read().splitlines()
    if len(lines) < 4:
        sys.exit(f"{path}: a curve file needs a title and three header lines")
    title = lines[0].strip()
    if title.startswith('"'):
        title = title[1:]
    if title.rstrip().endswith('"'):
        title = title.rstrip()[:-1]

    def header(line_no, count):
        values = [_number(item) for item in _items(lines[line_no])[:count]]
        if len(values) < count or any(v is None for v in values):
            sys.exit(f"{path}: line {line_no + 1} needs {count} number(s)")
        return values

    coef = np.array(header(1, 5))
    varying, labelled = (int(v) for v in header(2, 2))
    (hot,) = header(3, 1)
    values = []
    for line in lines[4:]:
        stop = False
        for item in _items(line):
            value = _number(item)
            if value is None:
                stop = True
                break
            values.append(value)
        if stop:
            break
    values = values[: len(values) // 3 * 3]
    data = np.array(values, dtype=float).reshape(-1, 3)
    if len(data) == 0:
        sys.exit(f"{path}: no data points")
    replicates = np.where(data[:, 2] > 0.0, data[:, 2], 1.0)
    return Curve(title, coef, varying, labelled, hot, data[:, 0], data[:, 1], replicates)


def bound_one_site(K, R, N, total):
    """Bound labelled ligand T - F, F the positive root of
    K (1 + N) F^2 + (1 + N + K R - K T) F - T = 0, in the form without
    cancellation: 2T / (b + s) for b >= 0, (s - b) / (2a) otherwise."""
    ns = 1.0 + N
    a = K * ns
    b = ns + K * R - K * total
    s = np.sqrt(b * b + 4.0 * a * total)
    with np.errstate(divide="ignore", invalid="ignore"):
        free = np.where(b >= 0.0, 2.0 * total / (b + s), (s - b) / (2.0 * a))
    return np.clip(total - free, 0.0, total)


def weights(predicted, coef, replicates):
    a0, a1, a2, a3, a4 = coef
    variance = a0 + a1 * predicted + a2 * predicted**2 + a3 * np.abs(predicted) ** a4
    return replicates / np.maximum(variance, 1e-30)


def parameters(x):
    return 10.0 ** x[0], 10.0 ** x[1], x[2]


def residuals(x, total, bound, replicates, coef):
    K, R, N = parameters(x)
    predicted = bound_one_site(K, R, N, total)
    return np.sqrt(weights(predicted, coef, replicates)) * (bound - predicted)


def sum_of_squares(x, total, bound, replicates, coef):
    r = residuals(x, total, bound, replicates, coef)
    return float(r @ r)


def initial_estimate(curve):
    """K, R and N from the regression B/F = c0 + c1 F + c2 B: K = -c2,
    N = c1 / K, R = (c0 - N) / K; each kept inside its range."""
    free = curve.total - curve.bound
    usable = (free > 0.0) & (curve.bound > 0.0)
    F, B = free[usable], curve.bound[usable]
    design = np.column_stack([np.ones_like(F), F, B])
    c0, c1, c2 = np.linalg.lstsq(design, B / F, rcond=None)[0]
    K = -c2 if c2 < 0.0 else 1e9
    N = c1 / K if c1 > 0.0 else 1e-3
    R = (c0 - N) / K if c0 > N else float(np.max(curve.bound))
    K = min(max(K, K_RANGE[0]), K_RANGE[1])
    R = min(max(R, R_RANGE[0]), R_RANGE[1])
    N = min(max(N, N_RANGE[0]), N_RANGE[1])
    return np.array([math.log10(K), math.log10(R), N])


def fit(x0, total, bound, replicates, coef):
    x0 = np.clip(x0, LOWER, UPPER)
    result = least_squares(residuals, x0, bounds=(LOWER, UPPER), method="trf",
                           x_scale=np.array([1.0, 1.0, 1e-3]),
                           ftol=TOLERANCE, xtol=TOLERANCE, gtol=TOLERANCE,
                           args=(total, bound, replicates, coef))
    return result.x, 2.0 * result.cost


def percentile(sorted_values, p):
    """Linear interpolation between order statistics at 1 + p (n - 1) / 100."""
    n = len(sorted_values)
    pos = p / 100.0 * (n - 1) + 1.0
    k = int(pos)
    if k >= n:
        return sorted_values[-1]
    if k >= 1:
        return sorted_values[k - 1] + (pos - k) * (sorted_values[k] - sorted_values[k - 1])
    return sorted_values[0]


def bootstrap(curve, fitted_x, n_replicates, rng):
    """Rows of refitted (K, R, N), NaN for a refit that was not kept."""
    n = len(curve.total)
    samples = np.full((n_replicates, 3), np.nan)
    for b in range(n_replicates):
        idx = np.minimum((n * rng.random(n)).astype(int), n - 1)
        data = (curve.total[idx], curve.bound[idx], curve.replicates[idx], curve.coef)
        s0 = sum_of_squares(fitted_x, *data)
        x, s1 = fit(fitted_x, *data)
        if 2.0 * s0 >= s1:
            samples[b] = parameters(x)
    return samples


def summarise(samples):
    """Per column: (SE, lower, upper) of the valid values."""
    out = []
    for column in samples.T:
        values = np.sort(column[~np.isnan(column)])
        if len(values) == 0:
            out.append((math.nan, math.nan, math.nan))
            continue
        se = float(np.std(values, ddof=1)) if len(values) > 1 else math.nan
        out.append((se, percentile(values, 2.5), percentile(values, 97.5)))
    return out


def main():
    started = time.perf_counter()  # after the imports: the work alone
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("curve", help="curve file, e.g. EX1_SAT.CRV")
    parser.add_argument("--replicates", type=int, default=100)
    parser.add_argument("--seed", type=int, default=5)
    parser.add_argument("--out", help="result file (default: STEM_peer.out)")
    args = parser.parse_args()

    curve = read_curve(args.curve)
    if curve.varying != curve.labelled or curve.hot != 0.0:
        sys.exit(f"{args.curve}: only saturation curves (one ligand) are fitted here")

    data = (curve.total, curve.bound, curve.replicates, curve.coef)
    x, ss = fit(initial_estimate(curve), *data)
    values = parameters(x)
    samples = bootstrap(curve, x, args.replicates, np.random.default_rng(args.seed))
    stats = summarise(samples)
    converged = int(np.sum(~np.isnan(samples[:, 0])))
    n, p = len(curve.total), len(NAMES)

    lines = [f"Curve: {args.curve} ({curve.title}), {n} points",
             f"Bootstrap: {converged} of {args.replicates} refits kept",
             f"{'Parameter':>9} {'Value':>15} {'Std Error':>15} {'95% CI':>31}"]
    for name, value, (se, lower, upper) in zip(NAMES, values, stats):
        lines.append(f"{name:>9} {value:15.7E} {se:15.4E} {lower:15.7E} {upper:15.7E}")
    lines.append(f"{'Kd':>9} {1.0 / values[0]:15.7E}")
    lines.append(f"SSQ = {ss:.7E}  MSE = {ss / (n - p):.7E}  DF = {n - p}")
    text = "\n".join(lines) + "\n"
    stem = os.path.splitext(os.path.basename(args.curve))[0]
    with open(args.out or f"{stem}_peer.out", "w", encoding="ascii") as f:
        f.write(text)
    sys.stdout.write(text)
    sys.stderr.write(f"peer work: {time.perf_counter() - started:.6f} s\n")


if __name__ == "__main__":
    main()
