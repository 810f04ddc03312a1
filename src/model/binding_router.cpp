#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"
#include "model/single_ligand.hpp"

namespace kelvora {

Binding_constants binding_constants(const Fit_parameters& p, const double* value) {
  Binding_constants k;
  for (int l = 1; l <= p.n_ligands; ++l) {
    for (int s = 1; s <= p.n_sites; ++s) k.K[l - 1][s - 1] = value[k_slot(p, l, s)];
    k.N[l - 1] = value[n_slot(p, l)];
  }
  for (int s = 1; s <= p.n_sites; ++s) {
    k.R[s - 1] = value[r_slot(p, s)];
    k.B[s - 1] = value[b_slot(p, s)];
  }
  return k;
}

Binding_constants binding_constants(const Fit_parameters& p) {
  return binding_constants(p, p.value.data());
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

}  // namespace kelvora
