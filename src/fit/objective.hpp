#pragma once
// The one objective function of every minimiser: the weighted sum of squared
// residuals of all curves at the current parameter vector,
//   SS = sum_c sum_j w(j) (Y(j) - Yhat(j))^2  (+ a penalty for negative values),
// with the side effects the reports rely on: each curve's predicted values,
// residuals and weights are filled. The vector is repaired first (negative
// values reflected, per-kind bounds) and SS belongs to the repaired vector.

#include <array>
#include <optional>

#include "data/records.hpp"

namespace kelvora {

// From this many data points on, the curves of an analysis are evaluated on
// several threads (below it the threads would cost more than they save).
constexpr int parallel_points = 4000;

// Repairs the current values, evaluates the model there and stores SS in
// opt.ss; a vector that held a negative value scores (1 + 1e6) SS. Then the
// sites are kept in order (a relabelling that leaves SS unchanged).
void evaluate_model(Curve_table& curves, Fit_parameters& params, Optimization_data& opt);

// w = r / (a0 + a1 Y + a2 Y^2 + a3 |Y|^a4) at predicted value Y, times the
// replicate count r when it is positive. The denominator is floored at 1e-30
// (also when it is negative or not a number), so every weight is finite.
double compute_weight(double predicted, const std::array<double, n_weight_coefs>& a,
                      double replicates);

// d ln v / dY = v'(Y) / v(Y) of the variance function v = a0 + a1 Y + a2 Y^2 +
// a3 |Y|^a4 behind the weight w = r / v, so that dw/dY = -w v'/v; 0 where the
// denominator is floored (the weight is then constant).
double variance_log_slope(double predicted, const std::array<double, n_weight_coefs>& a);

// True when any of the 72 values is negative; all of them are then replaced
// by their absolute values.
bool reflect_negative_values(Fit_parameters& params);

// The admissible range of a parameter kind (the first letter of its name):
//   K [1e5, 1e14], R [1e-14, 1e-5], N [0, 0.5], C [0.1, 10], B [0.25, 4];
// nothing for any other letter.
struct Admissible_range {
  double lower;
  double upper;
};
std::optional<Admissible_range> admissible_range(char kind);

// Clamps the value of `slot` to the admissible range of its kind.
void enforce_parameter_bounds(Fit_parameters& params, int slot);

// With two ligands and two sites, pushes ligand 1's second-site affinity
// below its first: K12 <- K11 rho (1 + tanh(2 (1 - rho))) / 2 with
// rho = K12 / K11, so that site 1 is the site ligand 1 prefers. Other ligands
// keep their own preference; a constant K12 is left alone; nothing happens in
// any other configuration.
void apply_k_constraints_barrier(Fit_parameters& params);

}  // namespace kelvora
