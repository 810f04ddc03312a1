// Runs test. Given n1 positive and n2 negative residuals, every arrangement
// of the signs is equally likely under randomness, and the number of runs R
// has the exact distribution (N = n1 + n2, C the binomial coefficient)
//   P(R = 2k)     = 2 C(n1-1, k-1) C(n2-1, k-1) / C(N, n1),
//   P(R = 2k + 1) = [C(n1-1, k-1) C(n2-1, k) + C(n1-1, k) C(n2-1, k-1)] / C(N, n1).
// The binomials are formed in logarithms (lgamma), so curves of a thousand
// points neither overflow nor lose the small tail probabilities.
//   Runs test: Wald A, Wolfowitz J, Ann. Math. Stat. 11, 147-162 (1940).
//   Distribution of runs: Swed FS, Eisenhart C, Ann. Math. Stat. 14, 66-87 (1943).

#include "stats/runs_test.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "util/console.hpp"
#include "util/fields.hpp"

namespace kelvora {

namespace {

double log_choose(int n, int k) {
  return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0);
}

// C(n1-1, a) C(n2-1, b) / C(N, n1); zero outside the binomials' range.
double arrangement_share(int n1, int n2, int a, int b, double log_all) {
  if (a < 0 || b < 0 || a > n1 - 1 || b > n2 - 1) return 0.0;
  return std::exp(log_choose(n1 - 1, a) + log_choose(n2 - 1, b) - log_all);
}

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

std::vector<double> runs_distribution(int n1, int n2) {
  std::vector<double> p(n1 + n2 + 2, 0.0);
  if (n1 == 0 || n2 == 0) {
    p[1] = 1.0;
    return p;
  }
  const double log_all = log_choose(n1 + n2, n1);
  for (int r = 2; r <= n1 + n2; ++r) {
    const int k = r / 2;
    p[r] = r % 2 == 0 ? 2.0 * arrangement_share(n1, n2, k - 1, k - 1, log_all)
                      : arrangement_share(n1, n2, k - 1, k, log_all) +
                            arrangement_share(n1, n2, k, k - 1, log_all);
  }
  return p;
}

Runs_decision runs_test2(const Run_counts& counts) {
  const std::vector<double> p = runs_distribution(counts.n_pos, counts.n_neg);
  const int r = std::clamp(counts.runs, 0, static_cast<int>(p.size()) - 1);
  double lower = 0.0, upper = 0.0;  // P(R <= r), P(R >= r)
  for (int j = 0; j < static_cast<int>(p.size()); ++j) {
    if (j <= r) lower += p[j];
    if (j >= r) upper += p[j];
  }
  Runs_decision d;
  d.p = std::min(1.0, 2.0 * std::min(lower, upper));
  d.too_few = lower < upper;
  // p is a ratio of integers formed in floating point: a level it meets
  // exactly must not be missed by a rounding error.
  constexpr double rounding = 1.0 + 1e-9;
  d.verdict = d.p <= 0.05 * rounding   ? Runs_verdict::significant
              : d.p <= 0.10 * rounding ? Runs_verdict::marginal
                                       : Runs_verdict::random;
  return d;
}

void print_runs_test_result2(Console& console, int curve_number, const Run_counts& counts, int n,
                             const Runs_decision& decision) {
  // Expected runs of a random order, E = 2 n_pos n_neg / n + 1 (1 with no point).
  const double expected = n > 0 ? 2.0 * counts.n_pos * counts.n_neg / n + 1.0 : 1.0;
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
  // The lines of each verdict; a pattern line only where there is a pattern.
  struct Verdict_lines {
    const char* result;
    const char* evidence;
    const char* too_few;
    const char* too_many;
  };
  static constexpr Verdict_lines lines[] = {
      {" Result: RANDOM (p > 0.10)", " Residuals appear randomly distributed.", nullptr, nullptr},
      {" Result: MARGINALLY SIGNIFICANT (0.05 < p = 0.10)", " Some evidence of non-random pattern.",
       " Pattern: Too few runs (clustering of residuals).",
       " Pattern: Too many runs (oscillating residuals)."},
      {" Result: SIGNIFICANT (p = 0.05)", " Strong evidence of non-random pattern!",
       " Pattern: Too few runs (severe clustering).",
       " Pattern: Too many runs (severe oscillation)."},
  };
  const Verdict_lines& v = lines[static_cast<int>(decision.verdict)];
  console.free_form(v.result);
  // Four decimals; below 0.0001 only the bound is shown.
  console.free_form(" Exact p (two-sided) = " +
                    (decision.p < 0.0001 ? std::string("< 0.0001") : fmt_f(decision.p, 6, 4)));
  console.free_form(v.evidence);
  if (const char* pattern = decision.too_few ? v.too_few : v.too_many) console.free_form(pattern);
  console.free_form(heading_rule);
  console.empty_line();
}

std::vector<Curve_runs> calculate_runs(Console& console, const Curve_table& curves,
                                       const Fit_parameters& params, const Fit_outcome& outcome) {
  std::vector<Curve_runs> results;
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    const int n = curve.n_points;
    const Run_counts counts =
        compute_residual_runs(curve.bound.data(), outcome.fitted[c].predicted.data(), 0, n);
    const Curve_runs& runs = results.emplace_back(Curve_runs{n, counts, runs_test2(counts)});
    print_runs_test_result2(console, c + 1, counts, n, runs.decision);
  }
  return results;
}

}  // namespace kelvora
