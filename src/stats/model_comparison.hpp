#pragma once
// One site or two: the comparison of two nested least-squares fits of the
// same data, by the extra-sum-of-squares F test and by the small-sample
// Akaike criterion.

#include <iosfwd>
#include <string>
#include <vector>

namespace kelvora {

// One fit: its number of sites, sum of squares, number of points and of
// fitted parameters.
struct Model_fit {
  int sites = 0;
  double ss = 0.0;
  int n_points = 0;
  int n_var = 0;
  int df() const { return n_points - n_var; }
};

// AICc = N ln(SS/N) + 2P + 2P(P+1)/(N-P-1) (see fit_statistics); NaN when it
// is not defined (SS <= 0 or N <= P + 1).
double aicc(const Model_fit& fit);

struct Model_comparison {
  Model_fit simple;       // fewer sites
  Model_fit rich;         // more sites
  bool ss_lower = false;  // the richer model's SSQ is lower
  bool testable = false;  // an F test is defined (and ss_lower)
  double f = 0.0;
  double p = 0.0;
  double aicc_simple = 0.0;
  double aicc_rich = 0.0;
  double rich_weight = 0.0;  // Akaike weight of the richer model; NaN without AICc
  bool rich_better = false;  // p < 0.05
};

// Compares two fits of the same data with different numbers of sites, in
// whichever order they were made.
Model_comparison compare_models(const Model_fit& a, const Model_fit& b);

// The lines of the comparison block, from "MODEL COMPARISON (1 vs 2 sites)"
// to the verdict.
std::vector<std::string> model_comparison_lines(const Model_comparison& comparison);

}  // namespace kelvora
