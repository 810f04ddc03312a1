#pragma once
// The points of all saturation curves of one ligand, for the estimators.

#include <vector>

#include "data/records.hpp"

namespace kelvora::detail {

struct Saturation_point {
  double total;
  double bound;
};

// Every point of every curve whose varying and labelled ligand are both
// `ligand`, in curve and point order, with a total above 1e-30.
std::vector<Saturation_point> gather_saturation_points(const Curve_table& curves,
                                                       const Fit_parameters& params, int ligand);

// Free ligand T - B, or T/2 when that is below 1e-30.
inline double free_ligand(const Saturation_point& p) {
  const double f = p.total - p.bound;
  return f < 1e-30 ? 0.5 * p.total : f;
}

// The smallest measured bound value above 1e-15 over all points of all
// curves, or 0 when there is none.
double smallest_bound(const Curve_table& curves, const Fit_parameters& params);

// R1 = 10 b (and R2 = 1000 b with two sites) from the smallest bound b, for
// the receptor concentrations that are not constant.
void receptors_from_smallest_bound(const Curve_table& curves, Fit_parameters& params);

// Writes v into value and accepted of `slot` unless the slot is constant.
void set_estimate(Fit_parameters& params, int slot, double v);

// The values of the constant parameters, saved and written back.
struct Saved_constants {
  explicit Saved_constants(const Fit_parameters& params, int count);
  void restore(Fit_parameters& params) const;
  std::vector<double> value;
  int count;
};

}  // namespace kelvora::detail
