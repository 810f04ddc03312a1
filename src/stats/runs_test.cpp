// Runs test. The critical counts are looked up with the numbers of positive
// and of negative residuals: the distribution of the number of runs depends
// on both group sizes, so with unbalanced signs the halves of the point count
// would give verdicts that contradict the expected number of runs.
// For groups n1, n2 (N = n1 + n2, P = 2 n1 n2) the number of runs has mean
// mu = P/N + 1 and variance (P - N) P / (N^2 (N - 1)).

#include "stats/runs_test.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "util/console.hpp"
#include "util/fields.hpp"

namespace kelvora {

namespace {

// Critical run counts for two balanced groups of size m (and m or m + 1):
// lo05, lo10, hi10, hi05 for m = 2 .. 20.
constexpr int exact_table[19][4] = {
    {2, 2, 4, 4},     {2, 2, 6, 6},     {2, 3, 7, 8},     {3, 3, 9, 9},    {3, 4, 10, 11},
    {4, 5, 11, 12},   {5, 5, 13, 13},   {5, 6, 14, 15},   {6, 6, 16, 16},  {6, 7, 17, 18},
    {7, 8, 18, 19},   {7, 8, 20, 21},   {8, 9, 21, 22},   {9, 10, 22, 23}, {9, 10, 24, 25},
    {10, 11, 25, 26}, {10, 11, 27, 28}, {11, 12, 28, 29}, {12, 13, 29, 30}};

}  // namespace

Run_counts compute_residual_runs(const double* obs, const double* pred, int start, int count) {
  Run_counts counts;
  int previous = 0;
  for (int i = start; i < start + count; ++i) {
    const double r = obs[i] - pred[i];
    int sign = previous;
    if (r > 0.0) {
      ++counts.n_pos;
      sign = 1;
    } else if (r < 0.0) {
      ++counts.n_neg;
      sign = -1;
    }
    if (previous != 0 && sign != previous) ++counts.runs;
    previous = sign;
  }
  ++counts.runs;  // the first run
  return counts;
}

Critical_runs get_exact_critical_values2(int m) {
  const int* row = exact_table[m - 2];
  return {static_cast<double>(row[1]), static_cast<double>(row[0]), static_cast<double>(row[2]),
          static_cast<double>(row[3])};
}

Critical_runs get_approximate_critical_values2(int n1, int n2) {
  const double n = n1 + n2;
  const double p = 2.0 * n1 * n2;
  const double mean = p / n + 1.0;
  const double variance = (p - n) * p / (n * n * (n - 1.0));
  if (std::isnan(variance)) return {2.0, 2.0, n, n};
  const double sigma = std::sqrt(variance);
  return {std::max(mean - 1.645 * sigma - 0.5, 2.0), std::max(mean - 1.96 * sigma - 0.5, 2.0),
          std::min(mean + 1.645 * sigma + 0.5, n), std::min(mean + 1.96 * sigma + 0.5, n)};
}

Critical_runs get_critical_values(int n1, int n2) {
  const int m = std::min(n1, n2);
  const bool balanced = std::abs(n1 - n2) <= 1;
  if (balanced && m >= 2 && std::max(n1, n2) <= 20) return get_exact_critical_values2(m);
  return get_approximate_critical_values2(n1, n2);
}

Runs_verdict runs_test2(int runs, const Critical_runs& c) {
  const double r = runs;
  if (r <= c.lo05 || r >= c.hi05) return Runs_verdict::significant;
  if (r <= c.lo10 || r >= c.hi10) return Runs_verdict::marginal;
  return Runs_verdict::random;
}

void print_runs_test_result2(Console& console, int curve_number, const Run_counts& counts, int n,
                             Runs_verdict verdict, const Critical_runs& critical) {
  const double expected = 2.0 * counts.n_pos * counts.n_neg / n + 1.0;
  const std::string heading_rule = rule('=', 40);
  console.empty_line();
  console.free_form(heading_rule);
  console.free_form("   RUNS TEST FOR RESIDUALS RANDOMNESS");
  console.free_form(heading_rule);
  console.exact(" Curve number:             " + fmt_i(curve_number, 4));
  console.exact(" Number of data points:    " + fmt_i(n, 4));
  console.exact(" Observed runs:            " + fmt_i(counts.runs, 4));
  console.exact(" Expected runs (random):   " + fmt_f(expected, 6, 2));
  console.empty_line();
  // The pattern follows the limit that was crossed: runs at or below the
  // lower limit are clustering, at or above the upper one oscillation.
  switch (verdict) {
    case Runs_verdict::random:
      console.free_form(" Result: RANDOM (p > 0.10)");
      console.free_form(" Residuals appear randomly distributed.");
      break;
    case Runs_verdict::marginal:
      console.free_form(" Result: MARGINALLY SIGNIFICANT (0.05 < p = 0.10)");
      console.free_form(" Some evidence of non-random pattern.");
      console.free_form(counts.runs <= critical.lo10
                            ? " Pattern: Too few runs (clustering of residuals)."
                            : " Pattern: Too many runs (oscillating residuals).");
      break;
    case Runs_verdict::significant:
      console.free_form(" Result: SIGNIFICANT (p = 0.05)");
      console.free_form(" Strong evidence of non-random pattern!");
      console.free_form(counts.runs <= critical.lo05
                            ? " Pattern: Too few runs (severe clustering)."
                            : " Pattern: Too many runs (severe oscillation).");
      break;
  }
  console.free_form(heading_rule);
  console.empty_line();
}

void calculate_runs(Console& console, const Curve_table& curves, const Fit_parameters& params) {
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    const int n = curve.n_points;
    const Run_counts counts =
        compute_residual_runs(curve.bound.data(), curve.predicted.data(), 0, n);
    const Critical_runs critical = get_critical_values(counts.n_pos, counts.n_neg);
    print_runs_test_result2(console, c + 1, counts, n, runs_test2(counts.runs, critical), critical);
  }
}

}  // namespace kelvora
