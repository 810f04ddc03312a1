#pragma once
// Runs test of the residuals of each curve (Wald-Wolfowitz): a run is a
// maximal stretch of residuals of one sign; too few runs (clustering) or too
// many (oscillation) are evidence of a systematic misfit.

#include "data/records.hpp"

namespace kelvora {

class Console;

struct Run_counts {
  int n_pos = 0;
  int n_neg = 0;
  int runs = 0;
};

struct Critical_runs {
  double lo10 = 0, lo05 = 0, hi10 = 0, hi05 = 0;
};

enum class Runs_verdict { random = 0, marginal = 1, significant = 2 };

// Signs and runs of obs(i) - pred(i) for i in [start, start + count). A zero
// (or undefined) residual extends the current run and counts in neither group.
Run_counts compute_residual_runs(const double* obs, const double* pred, int start, int count);

// Critical run counts for n1 positive and n2 negative residuals: from the
// exact table when the two groups are balanced (differ by at most one) with
// 2 <= min <= 20 and max <= 20, otherwise from the normal approximation.
Critical_runs get_critical_values(int n1, int n2);
Critical_runs get_exact_critical_values2(int m);
Critical_runs get_approximate_critical_values2(int n1, int n2);

Runs_verdict runs_test2(int runs, const Critical_runs& critical);

void print_runs_test_result2(Console& console, int curve_number, const Run_counts& counts, int n,
                             Runs_verdict verdict, const Critical_runs& critical);

// The test for every curve of the analysis, printed curve by curve.
void calculate_runs(Console& console, const Curve_table& curves, const Fit_parameters& params);

}  // namespace kelvora
