#include "params/saturation_points.hpp"

#include "data/parameter_layout.hpp"

namespace kelvora::detail {

std::vector<Saturation_point> gather_saturation_points(const Curve_table& curves,
                                                       const Fit_parameters& params, int ligand) {
  std::vector<Saturation_point> points;
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    if (curve.varying_ligand != ligand || curve.labelled_ligand != ligand) continue;
    for (int j = 0; j < curve.n_points; ++j) {
      const double total = curve.total_of(j, ligand);
      if (total > 1e-30) points.push_back({total, curve.bound[j]});
    }
  }
  return points;
}

double smallest_bound(const Curve_table& curves, const Fit_parameters& params) {
  double smallest = 0.0;
  for (int c = 0; c < params.n_curves; ++c) {
    for (int j = 0; j < curves[c].n_points; ++j) {
      const double b = curves[c].bound[j];
      if (b > 1e-15 && (smallest == 0.0 || b < smallest)) smallest = b;
    }
  }
  return smallest;
}

void receptors_from_smallest_bound(const Curve_table& curves, Fit_parameters& params) {
  const double b = smallest_bound(curves, params);
  if (b == 0.0) return;
  set_estimate(params, r_slot(params, 1), 10.0 * b);
  if (params.n_sites >= 2) set_estimate(params, r_slot(params, 2), 1000.0 * b);
}

void set_estimate(Fit_parameters& params, int slot, double v) {
  if (params.is_constant[slot]) return;
  params.value[slot] = v;
  params.accepted[slot] = v;
}

Saved_constants::Saved_constants(const Fit_parameters& params, int n)
    : value(params.value.begin(), params.value.begin() + n), count(n) {}

void Saved_constants::restore(Fit_parameters& params) const {
  for (int i = 0; i < count; ++i) {
    if (!params.is_constant[i]) continue;
    params.value[i] = value[i];
    params.accepted[i] = value[i];
  }
}

}  // namespace kelvora::detail
