#pragma once
// Where each named parameter sits in the flat parameter vector. With L
// ligands, S sites and M curves the vector reads (1-based positions)
//   K<l><s>  (l-1)*S + s           affinities, ligand-major
//   R<s>     L*S + s               receptor concentrations
//   N<l>     (L+1)*S + l           nonspecific binding ratios
//   C<c>     (L+1)*(S+1) - 1 + c   correction factors, one per curve
//   B<s>     (L+1)*(S+1) - 1 + M + s   cooperativity factors
// These helpers take the 1-based ligand, site and curve numbers the user
// sees and return the 0-based slot used in code.

#include "data/records.hpp"

namespace kelvora {

inline int k_slot(const Fit_parameters& p, int ligand, int site) {
  return (ligand - 1) * p.n_sites + (site - 1);
}
inline int r_slot(const Fit_parameters& p, int site) {
  return p.n_ligands * p.n_sites + site - 1;
}
inline int n_slot(const Fit_parameters& p, int ligand) {
  return (p.n_ligands + 1) * p.n_sites + ligand - 1;
}
inline int c_slot(const Fit_parameters& p, int curve) {
  return (p.n_ligands + 1) * (p.n_sites + 1) - 2 + curve;
}
inline int b_slot(const Fit_parameters& p, int site) {
  return (p.n_ligands + 1) * (p.n_sites + 1) - 2 + p.n_curves + site;
}

// The nonspecific ratio of ligand `ligand` on curve `curve` (1-based): the
// model binds C<curve> N<ligand> F of it nonspecifically, F its free
// concentration.
inline double curve_nonspecific_ratio(const Fit_parameters& p, int curve, int ligand) {
  return p.value[c_slot(p, curve)] * p.value[n_slot(p, ligand)];
}

}  // namespace kelvora
