#pragma once
// One-ligand saturation curves made from known constants: twelve totals from
// 10 pM to 20 nM, the bound ligand from the exact mass-action model.

#include <span>

#include "data/records.hpp"
#include "model/binding_model.hpp"

namespace kelvora::testing {

inline constexpr int saturation_points = 12;
inline constexpr double saturation_totals[saturation_points] = {
    1e-11, 2.5e-11, 5e-11, 1e-10, 2.5e-10, 5e-10, 1e-9, 2.5e-9, 5e-9, 1e-8, 1.5e-8, 2e-8};

// Constants of one ligand at one site.
inline Binding_constants one_site_constants(double K, double R, double N, double B = 1.0) {
  Binding_constants k;
  k.K[0][0] = K, k.R[0] = R, k.N[0] = N, k.B[0] = B;
  return k;
}

// Fills `curve` (ligand 1 varying and labelled) at the totals above with the
// bound ligand of `k` and correction factor `correction`, each point times
// 1 + relative_error[j] when relative errors are given; weights
// 1 / (0.001 Yhat^2), three replicates.
inline void fill_saturation_curve(Curve_data& curve, const Binding_constants& k, double correction,
                                  std::span<const double> relative_error = {}) {
  curve.varying_ligand = curve.labelled_ligand = 1;
  curve.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
  allocate_curve_data(curve);
  curve.n_points = saturation_points;
  for (int j = 0; j < saturation_points; ++j) {
    curve.total_of(j, 1) = saturation_totals[j];
    curve.replicates[j] = 3.0;
    Point_binding out;
    calculate_bound_ligand_general(1, 1, curve.total[j].data(), k, correction, out);
    curve.bound[j] =
        relative_error.empty() ? out.bound[0] : out.bound[0] * (1.0 + relative_error[j]);
  }
}

}  // namespace kelvora::testing
