#include "fit/objective.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"
#include "util/parallel.hpp"

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

bool reflect_negative_values(Fit_parameters& params) {
  int negative = 0;
  for (const double v : params.value) negative |= v < 0.0;
  if (negative == 0) return false;
  for (double& v : params.value) v = std::abs(v);
  return true;
}

std::optional<Admissible_range> admissible_range(char kind) {
  switch (kind) {
    case 'K':
      return Admissible_range{1e5, 1e14};
    case 'R':
      return Admissible_range{1e-14, 1e-5};
    case 'N':
      return Admissible_range{0.0, 0.5};
    case 'C':
      return Admissible_range{0.1, 10.0};
    case 'B':
      return Admissible_range{0.25, 4.0};
    default:
      return std::nullopt;
  }
}

void enforce_parameter_bounds(Fit_parameters& params, int slot) {
  const auto range = admissible_range(parameter_kind(params, slot));
  if (!range) return;
  params.value[slot] = std::clamp(params.value[slot], range->lower, range->upper);
}

void apply_k_constraints_barrier(Fit_parameters& params) {
  int k11 = -1, k12 = -1, k22 = -1;
  for (int slot = 0; slot < params.n_params; ++slot) {
    const std::string_view name = params.name[slot];
    if (name == "K11") k11 = slot;
    if (name == "K12") k12 = slot;
    if (name == "K22") k22 = slot;
  }
  if (k22 != 3 || k11 < 0 || k12 < 0) return;
  // Only K12 changes, so a constant K12 is left as the user gave it. Ligand 1
  // names the sites (site 1 is its preferred one); every other ligand keeps
  // whichever site it prefers.
  auto& v = params.value;
  if (!(v[k11] > 0.0) || params.is_constant[k12]) return;
  const double rho = v[k12] / v[k11];
  v[k12] = v[k11] * rho * (1.0 + std::tanh(2.0 * (1.0 - rho))) / 2.0;
}

void evaluate_model(Curve_table& curves, Fit_parameters& params, Optimization_data& opt) {
  // The vector is repaired before the model is evaluated, so that the sum of
  // squares always belongs to the values the vector holds afterwards: a
  // minimiser cannot find a low sum outside the admissible region that the
  // reported (repaired) parameters do not have.
  const bool had_negative = reflect_negative_values(params);
  for (int i = 0; i < params.n_var; ++i) enforce_parameter_bounds(params, params.var_map[i]);

  const Binding_constants k = binding_constants(params);
  // Each curve's sum first, then the curves' sums in curve order, so that the
  // result is the same whether the curves are evaluated on one thread or
  // several.
  double curve_ss[max_curves];
  auto evaluate_curve = [&](int c) {
    Curve_data& curve = curves[c];
    const double C = params.value[c_slot(params, c + 1)];
    const bool competition = is_competition_assay(curve, params);
    const int labelled = curve.labelled_ligand - 1;
    Point_binding point;
    double sum = 0.0;
    for (int j = 0; j < curve.n_points; ++j) {
      calculate_binding_unified(curve, params, j, k, C, competition, point);
      const double predicted = point.bound[labelled];
      const double residual = curve.bound[j] - predicted;
      const double weight = compute_weight(predicted, curve.weight_coef, curve.replicates[j]);
      curve.predicted[j] = predicted;
      curve.residual[j] = residual;
      curve.weight[j] = weight;
      sum += residual * residual * weight;
    }
    curve_ss[c] = sum;
  };
  if (params.n_curves > 1 && params.n_points >= parallel_points) {
    parallel_for(params.n_curves, evaluate_curve);
  } else {
    for (int c = 0; c < params.n_curves; ++c) evaluate_curve(c);
  }
  double ss = 0.0;
  for (int c = 0; c < params.n_curves; ++c) ss += curve_ss[c];
  // A vector that held a negative value scores (1 + 1e6) times its sum.
  opt.ss = had_negative ? ss + 1.0e6 * ss : ss;
  ++opt.n_evaluations;
  enforce_affinity_ordering(curves, params);
}

}  // namespace kelvora
