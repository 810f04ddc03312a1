#pragma once
// The fitted model's view of each curve: predicted bound ligand, residual and
// weight at every point, for the reports and the statistics after a fit.

#include <array>
#include <vector>

#include "data/records.hpp"

namespace kelvora {

// w = r / (a0 + a1 Y + a2 Y^2 + a3 |Y|^a4) at predicted value Y, times the
// replicate count r when it is positive. The denominator is floored at 1e-30
// (also when it is negative or not a number), so every weight is finite.
double compute_weight(double predicted, const std::array<double, n_weight_coefs>& a,
                      double replicates);

// d ln v / dY = v'(Y) / v(Y) of the variance function v = a0 + a1 Y + a2 Y^2 +
// a3 |Y|^a4 behind the weight w = r / v, so that dw/dY = -w v'/v; 0 where the
// denominator is floored (the weight is then constant).
double variance_log_slope(double predicted, const std::array<double, n_weight_coefs>& a);

// Every curve of the analysis at the current values of `params`: the
// labelled ligand's bound concentration, the residual and the weight
// compute_weight(predicted, ...) at each point.
std::vector<Curve_prediction> predict_curves(const Curve_table& curves,
                                             const Fit_parameters& params);

}  // namespace kelvora
