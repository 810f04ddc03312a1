#pragma once
// The goodness-of-fit figures of one weighted least-squares fit, and the two
// distributions the reports draw on (Student's t for confidence limits, F for
// the comparison of nested fits). Every report takes its figures from here.

#include <string>

#include "data/records.hpp"

namespace kelvora {

// With N points, P fitted parameters and the weighted sum of squares SS:
//   DF   = N - P
//   MSE  = SS/(N - P)                      (the residual variance)
//   AIC  = N ln(SS/N) + 2P
//   AICc = AIC + 2P(P+1)/(N - P - 1)       (the small-sample correction)
// A figure that is not defined is NaN: MSE when N <= P or SS < 0, AIC when
// SS <= 0 or N <= 0, AICc also when N - P - 1 <= 0. AIC is finite for every
// positive SS, also one so small that SS/N underflows.
//   AIC: Akaike H, IEEE Trans. Autom. Control 19, 716-723 (1974).
//   AICc: Hurvich CM, Tsai CL, Biometrika 76, 297-307 (1989).
struct Fit_statistics {
  int n_points = 0;  // N
  int n_var = 0;     // P
  double ss = 0.0;
  int df = 0;
  double mse = 0.0;
  double aic = 0.0;
  double aicc = 0.0;
};

Fit_statistics fit_statistics(int n_points, int n_var, double ss);

// Whether the points of an analysis (params.n_curves curves, params.n_points
// points, params.n_var fitted parameters, sum of squares ss) can determine
// the fitted parameters. They cannot when every point of every curve is at
// the same concentration of its varying ligand: no curve is traced, and a
// resample only repeats that concentration. Nor when ss = 0 with more points
// than parameters: the fit passes through every point, no scatter is left to
// estimate an error from, and every resample refits to the same values. Either
// way a standard error or interval would be zero-width, and so is not given.
Determinacy data_determinacy(const Curve_table& curves, const Fit_parameters& params, double ss);

// The one warning line the reports give for data that do not determine the
// fitted parameters; empty when they do.
std::string determinacy_warning(Determinacy determinacy);

// The quantile t of Student's t distribution with df degrees of freedom
// (P(T <= t) = probability; df need not be whole). NaN for a probability
// outside [0, 1], df <= 0 or a NaN argument; -/+infinity at 0 and 1.
double student_t_quantile(double probability, double df);

// P(F > f) for an F distribution with d1 and d2 degrees of freedom: 1 for
// f <= 0, 0 for f = infinity, NaN for a NaN f or d1, d2 not positive.
double f_upper_tail(double f, double d1, double d2);

}  // namespace kelvora
