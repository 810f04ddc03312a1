#pragma once
// Runs test of the residuals of each curve (Wald-Wolfowitz): a run is a
// maximal stretch of residuals of one sign; too few runs (clustering) or too
// many (oscillation) are evidence of a systematic misfit. The verdict comes
// from the exact distribution of the number of runs given the numbers of
// positive and negative residuals, so it holds for unbalanced signs and for
// short curves alike.

#include <vector>

#include "data/records.hpp"

namespace kelvora {

class Console;

struct Run_counts {
  int n_pos = 0;
  int n_neg = 0;
  int runs = 0;
};

enum class Runs_verdict { random = 0, marginal = 1, significant = 2 };

struct Runs_decision {
  double p = 1.0;        // two-sided: 2 min(P(R <= runs), P(R >= runs)), at most 1
  bool too_few = false;  // the lower tail is the smaller one (clustering)
  Runs_verdict verdict = Runs_verdict::random;  // significant p <= 0.05, marginal p <= 0.10
};

// Signs and runs of obs(i) - pred(i) for i in [start, start + count). A zero
// (or undefined) residual extends the current run and counts in neither group.
Run_counts compute_residual_runs(const double* obs, const double* pred, int start, int count);

// P(R = r) for r = 0 .. n1 + n2 + 1: the number of runs R of a random
// arrangement of n1 and n2 signs. With one group empty, R = 1 surely.
std::vector<double> runs_distribution(int n1, int n2);

// The two-sided p of the observed runs under that distribution, and the
// verdict it gives. All residuals of one sign (one run) are never significant.
Runs_decision runs_test2(const Run_counts& counts);

// The report block of one curve (n points, zero residuals included), with the
// verdict and its exact two-sided p.
void print_runs_test_result2(Console& console, int curve_number, const Run_counts& counts, int n,
                             const Runs_decision& decision);

// The test of one curve's residuals.
struct Curve_runs {
  int n_points = 0;
  Run_counts counts;
  Runs_decision decision;
};

// The test for every curve of the analysis, printed curve by curve; the
// results in curve order.
std::vector<Curve_runs> calculate_runs(Console& console, const Curve_table& curves,
                                       const Fit_parameters& params, const Fit_outcome& outcome);

}  // namespace kelvora
