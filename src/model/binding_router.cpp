#include <utility>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"

namespace kelvora {

Binding_constants binding_constants(const Fit_parameters& p) {
  Binding_constants k;
  for (int l = 1; l <= p.n_ligands; ++l) {
    for (int s = 1; s <= p.n_sites; ++s) k.K[l - 1][s - 1] = p.value[k_slot(p, l, s)];
    k.N[l - 1] = p.value[n_slot(p, l)];
  }
  for (int s = 1; s <= p.n_sites; ++s) {
    k.R[s - 1] = p.value[r_slot(p, s)];
    k.B[s - 1] = p.value[b_slot(p, s)];
  }
  return k;
}

void calculate_binding_unified(const Curve_data& curve, const Fit_parameters& params, int point,
                               const Binding_constants& k, double C, Point_binding& out) {
  calculate_binding_unified(curve, params, point, k, C, is_competition_assay(curve, params), out);
}

void calculate_binding_unified(const Curve_data& curve, const Fit_parameters& params, int point,
                               const Binding_constants& k, double C, bool competition,
                               Point_binding& out) {
  const auto& total = curve.total[point];
  if (competition) {
    calculate_bound_competition_multisite(total.data(), k, C, curve.varying_ligand,
                                          curve.labelled_ligand, params.n_sites, out);
  } else {
    calculate_bound_ligand_general(params.n_ligands, params.n_sites, total.data(), k, C, out);
  }
}

void enforce_affinity_ordering(const Curve_table& curves, Fit_parameters& p) {
  if (p.n_curves < 1 || is_competition_assay(curves[0], p)) return;
  if (p.n_ligands != 2) return;
  auto& v = p.value;
  if (p.n_sites == 1) {
    const int k11 = k_slot(p, 1, 1);
    const int k21 = k_slot(p, 2, 1);
    if (v[k21] > v[k11]) {
      std::swap(v[k11], v[k21]);
      std::swap(p.accepted[k11], p.accepted[k21]);
    }
  } else if (p.n_sites == 2) {
    for (int ligand = 1; ligand <= 2; ++ligand) {
      const int first = k_slot(p, ligand, 1);
      const int second = k_slot(p, ligand, 2);
      if (v[second] > v[first]) std::swap(v[first], v[second]);
    }
  }
}

}  // namespace kelvora
