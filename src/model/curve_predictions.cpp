#include "model/curve_predictions.hpp"

#include <cmath>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"

namespace kelvora {

double compute_weight(double predicted, const std::array<double, n_weight_coefs>& a,
                      double replicates) {
  const double y = predicted;
  double denominator = a[0] + a[1] * y + a[2] * y * y;
  if (a[3] != 0.0) denominator += a[3] * (a[4] == 2.0 ? y * y : std::pow(std::abs(y), a[4]));
  if (!(denominator >= 1e-30)) denominator = 1e-30;
  const double w = 1.0 / denominator;
  return replicates > 0.0 ? w * replicates : w;
}

double variance_log_slope(double predicted, const std::array<double, n_weight_coefs>& a) {
  const double y = predicted;
  double v = a[0] + a[1] * y + a[2] * y * y;
  double slope = a[1] + 2.0 * a[2] * y;
  if (a[3] != 0.0) {
    const double magnitude = std::abs(y);
    v += a[3] * (a[4] == 2.0 ? y * y : std::pow(magnitude, a[4]));
    // d|y|^p/dy = p |y|^(p-1) sign(y), taken as 0 at y = 0.
    if (y != 0.0) slope += a[3] * a[4] * std::pow(magnitude, a[4] - 1.0) * (y > 0.0 ? 1.0 : -1.0);
  }
  if (!(v >= 1e-30)) return 0.0;  // the floored weight does not change with y
  return slope / v;
}

std::vector<Curve_prediction> predict_curves(const Curve_table& curves,
                                             const Fit_parameters& params) {
  std::vector<Curve_prediction> fitted(params.n_curves);
  const Binding_constants k = binding_constants(params);
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    Curve_prediction& out = fitted[c];
    const double C = params.value[c_slot(params, c + 1)];
    const bool competition = is_competition_assay(curve, params);
    Point_binding point;
    for (int j = 0; j < curve.n_points; ++j) {
      calculate_binding_unified(curve, params, j, k, C, competition, point);
      const double predicted = point.bound[curve.labelled_ligand - 1];
      out.predicted.push_back(predicted);
      out.residual.push_back(curve.bound[j] - predicted);
      out.weight.push_back(compute_weight(predicted, curve.weight_coef, curve.replicates[j]));
    }
  }
  return fitted;
}

}  // namespace kelvora
