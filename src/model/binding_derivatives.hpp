#pragma once
// Partial derivatives of the point model's prediction (the labelled ligand's
// bound concentration) with respect to the model constants, by implicit
// differentiation of the conservation equations at the solved point.

#include "model/binding_model.hpp"

namespace kelvora {

// The labelled ligand's bound concentration at one point and its partial
// derivatives with respect to every model constant.
struct Bound_derivatives {
  double bound = 0.0;                      // as calculate_binding_unified returns it
  double dK[max_ligands][max_sites] = {};  // dBound/dK(l,s)   [l-1][s-1]
  double dR[max_sites] = {};
  double dN[max_ligands] = {};
  double dC = 0.0;
  double dB[max_sites] = {};
};

// `competition` as calculate_binding_unified takes it. `bound` is the value
// calculate_binding_unified(...).bound[labelled-1] gives (the same solver
// call). Constants that do not enter the point's equations (absent ligands,
// unused sites) have derivative 0.
void calculate_bound_derivatives(const Curve_data& curve, const Fit_parameters& params, int point,
                                 const Binding_constants& k, double C, bool competition,
                                 Bound_derivatives& out);

}  // namespace kelvora
