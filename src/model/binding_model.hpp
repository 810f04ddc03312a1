#pragma once
// The point model: free and bound concentration of every ligand at one data
// point, for L ligands competing for S classes of receptor sites.
//
// For free concentrations F(l) the occupancy sum of site s is
//   A(s) = sum_l K(l,s) F(l)
// and the site term, with cooperativity B(s) and correction factor C, is
//   Q(s) = C R(s) (1 + B(s) A(s)) / max(1e-30, 1 + 2 A(s) + B(s) A(s)^2),
// which for B = 1 is C R(s) / (1 + A(s)), ordinary binding to independent
// sites. Ligand l is bound nonspecifically (C N(l) F(l)) and to each site
// (F(l) K(l,s) Q(s)); the free concentrations solve the conservation
// equations
//   G(l) = T(l) - F(l) (1 + C N(l) + sum_s K(l,s) Q(s)) = 0.
// Bound ligand is computed from the solution as F(l)(C N(l) + sum_s K Q),
// not as T - F, so that it keeps its full relative accuracy when it is a tiny
// fraction of the total.

#include <array>

#include "data/records.hpp"

namespace kelvora {

// The model constants of one evaluation, taken from the parameter vector.
struct Binding_constants {
  double K[max_ligands][max_sites] = {};  // K[l-1][s-1], association constants [1/M]
  double R[max_sites] = {};               // receptor concentrations [M]
  double N[max_ligands] = {};             // nonspecific binding ratios
  double B[max_sites] = {};               // cooperativity factors
};

// Free and bound concentration of each ligand at one point, [l-1].
struct Point_binding {
  double free[max_ligands] = {};
  double bound[max_ligands] = {};
};

// K, R, N and B of the current values of the parameter vector, or of the
// values `value` (indexed by slot) in the vector's layout.
Binding_constants binding_constants(const Fit_parameters& params);
Binding_constants binding_constants(const Fit_parameters& layout, const double* value);

// The point model of one data point (0-based `point`) of a curve: competition
// curves go to the competition solver, all others to the general solver.
// The prediction of a curve's measurement is bound[labelled_ligand - 1].
void calculate_binding_unified(const Curve_data& curve, const Fit_parameters& params, int point,
                               const Binding_constants& k, double C, Point_binding& out);
// The same with the curve's kind already known (the objective decides it once
// per curve rather than once per point).
void calculate_binding_unified(const Curve_data& curve, const Fit_parameters& params, int point,
                               const Binding_constants& k, double C, bool competition,
                               Point_binding& out);

// The same at totals of the caller's choosing (total[l-1] for ligand l), with
// the curve's ligand numbers and kind: the fitted curve between and beyond the
// measured points.
void calculate_binding_unified(const Curve_data& curve, const Fit_parameters& params,
                               const std::array<double, max_ligands>& total,
                               const Binding_constants& k, double C, bool competition,
                               Point_binding& out);

// Ligand `ligand` (1-based) bound to site `site` (1-based) at the solved free
// concentrations of `point`: F(l) K(l,s) Q(s), with A(s) = sum_j K(j,s) F(j)
// and the site term Q(s) = C R(s) (1 + B(s) A(s)) / (1 + 2 A(s) + B(s) A(s)^2).
double bound_at_site(int n_ligands, const Binding_constants& k, double C,
                     const Point_binding& point, int ligand, int site);

// General mass-action solver for L ligands (totals T[0..L-1]) and S sites.
void calculate_bound_ligand_general(int n_ligands, int n_sites, const double* total,
                                    const Binding_constants& k, double C, Point_binding& out);

// Competition solver: ligand `varying` (the competitor) varies, ligand
// `labelled` is held at a fixed total; entries varying-1 and labelled-1 of
// `out` are written.
void calculate_bound_competition_multisite(const double* total, const Binding_constants& k,
                                           double C, int varying, int labelled, int n_sites,
                                           Point_binding& out);

// Inverse of an n x n matrix (n <= 4, row-major in m[4][4]) by Gauss-Jordan
// elimination with partial pivoting; false when a pivot is below 1e-20 in
// magnitude or not finite (the matrix is then treated as singular).
bool invert_matrix_pivot(int n, const double (&m)[4][4], double (&inverse)[4][4]);

}  // namespace kelvora
