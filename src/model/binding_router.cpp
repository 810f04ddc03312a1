#include <utility>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"
#include "model/single_ligand.hpp"

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
  calculate_binding_unified(curve, params, curve.total[point], k, C, competition, out);
}

void calculate_binding_unified(const Curve_data& curve, const Fit_parameters& params,
                               const std::array<double, max_ligands>& total,
                               const Binding_constants& k, double C, bool competition,
                               Point_binding& out) {
  if (competition) {
    calculate_bound_competition_multisite(total.data(), k, C, curve.varying_ligand,
                                          curve.labelled_ligand, params.n_sites, out);
  } else {
    calculate_bound_ligand_general(params.n_ligands, params.n_sites, total.data(), k, C, out);
  }
}

double bound_at_site(int n_ligands, const Binding_constants& k, double C,
                     const Point_binding& point, int ligand, int site) {
  double occupancy = 0.0;
  for (int l = 0; l < n_ligands; ++l) occupancy += k.K[l][site - 1] * point.free[l];
  const double q = detail::site_term(C * k.R[site - 1], k.B[site - 1], occupancy).q;
  return point.free[ligand - 1] * k.K[ligand - 1][site - 1] * q;
}

void enforce_affinity_ordering(const Curve_table& curves, Fit_parameters& p) {
  // Only a relabelling of the two site classes leaves the model unchanged:
  // exchanging the affinities of two ligands, or one ligand's two site
  // affinities without the receptor concentrations, would replace the fitted
  // model by another one. So with two ligands and two sites, when site 2
  // binds ligand 1 more strongly than site 1, the sites exchange all their
  // parameters; with one site there is nothing to order.
  if (p.n_curves < 1 || is_competition_assay(curves[0], p)) return;
  if (p.n_ligands != 2 || p.n_sites != 2) return;
  if (!(p.value[k_slot(p, 1, 2)] > p.value[k_slot(p, 1, 1)])) return;
  const int pairs[4][2] = {{k_slot(p, 1, 1), k_slot(p, 1, 2)},
                           {k_slot(p, 2, 1), k_slot(p, 2, 2)},
                           {r_slot(p, 1), r_slot(p, 2)},
                           {b_slot(p, 1), b_slot(p, 2)}};
  // A constant parameter keeps its value: the exchange must not move a
  // fitted value into it (equal constants may change places).
  for (const auto& pair : pairs) {
    const bool constant_1 = p.is_constant[pair[0]];
    const bool constant_2 = p.is_constant[pair[1]];
    if ((constant_1 || constant_2) &&
        !(constant_1 && constant_2 && p.value[pair[0]] == p.value[pair[1]]))
      return;
  }
  for (const auto& pair : pairs) {
    std::swap(p.value[pair[0]], p.value[pair[1]]);
    std::swap(p.accepted[pair[0]], p.accepted[pair[1]]);
  }
}

}  // namespace kelvora
