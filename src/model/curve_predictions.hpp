#pragma once
// The fitted model's view of each curve: predicted bound ligand, residual and
// weight at every point, for the objective, the reports and the statistics.
//
// A curve is evaluated as a whole: what does not change from point to point
// (the curve's kind, its ligands, the constants of its one-ligand problem,
// the weighting coefficients) is settled once per curve, and the points run
// through a loop over the curve's arrays. Each prediction is the one
// calculate_binding_unified gives for the point, to the last bit.

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "data/records.hpp"
#include "model/binding_model.hpp"

namespace kelvora {

namespace detail {

// The weight r / v of a point from its variance v, floored at 1e-30 (also
// when v is not a number: std::max(1e-30, v) is 1e-30 < v ? v : 1e-30).
inline double weight_of(double variance, double replicates) {
  const double w = 1.0 / std::max(1e-30, variance);
  const double replicated = w * replicates;
  return replicates > 0.0 ? replicated : w;
}

// a0 + a1 Y + a2 Y^2, the variance function without its power term.
inline double quadratic_variance(double y, const std::array<double, n_weight_coefs>& a) {
  return a[0] + a[1] * y + a[2] * y * y;
}

}  // namespace detail

// w = r / (a0 + a1 Y + a2 Y^2 + a3 |Y|^a4) at predicted value Y, times the
// replicate count r when it is positive. The denominator is floored at 1e-30
// (also when it is negative or not a number), so every weight is finite.
// The power is computed only when a3 is not 0.
inline double compute_weight(double predicted, const std::array<double, n_weight_coefs>& a,
                             double replicates) {
  const double y = predicted;
  double denominator = detail::quadratic_variance(y, a);
  if (a[3] != 0.0) denominator += a[3] * (a[4] == 2.0 ? y * y : std::pow(std::abs(y), a[4]));
  return detail::weight_of(denominator, replicates);
}

// d ln v / dY = v'(Y) / v(Y) of the variance function v = a0 + a1 Y + a2 Y^2 +
// a3 |Y|^a4 behind the weight w = r / v, so that dw/dY = -w v'/v; 0 where the
// denominator is floored (the weight is then constant).
double variance_log_slope(double predicted, const std::array<double, n_weight_coefs>& a);

// How the points of a curve are solved: fixed by the curve's data and the
// analysis's dimensions, not by the parameter values.
struct Curve_plan {
  bool competition = false;  // is_competition_assay
  // Not a competition curve, and no ligand but the labelled one (which is
  // one of the model's) is present at any point: every point is the
  // one-ligand problem of the labelled ligand, or has no labelled ligand.
  bool labelled_alone = false;
};
Curve_plan plan_curve(const Curve_data& curve, const Fit_parameters& params);

// The labelled ligand's bound concentration at points first..first+count-1
// of the curve, into predicted[0..count-1], at constants k and correction
// factor C.
void predict_points(const Curve_data& curve, const Fit_parameters& params, const Curve_plan& plan,
                    const Binding_constants& k, double C, int first, int count, double* predicted);

// The curve's weighted sum of squares sum_j w(j) (Y(j) - Yhat(j))^2, added in
// point order, with Yhat those of predict_points and w = compute_weight(Yhat).
double curve_sum_of_squares(const Curve_data& curve, const Fit_parameters& params,
                            const Curve_plan& plan, const Binding_constants& k, double C);

// Every curve of the analysis at the current values of `params`: the
// labelled ligand's bound concentration, the residual and the weight
// compute_weight(predicted, ...) at each point.
std::vector<Curve_prediction> predict_curves(const Curve_table& curves,
                                             const Fit_parameters& params);

}  // namespace kelvora
