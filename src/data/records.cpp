#include "data/records.hpp"

namespace kelvora {

void allocate_curve_data(Curve_data& curve) {
  curve.total.assign(max_points, {});
  curve.bound.assign(max_points, 0.0);
  curve.replicates.assign(max_points, 0.0);
}

void deallocate_curve_data(Curve_data& curve) {
  // Swapping with empty vectors really returns the memory.
  std::vector<std::array<double, max_ligands>>().swap(curve.total);
  std::vector<double>().swap(curve.bound);
  std::vector<double>().swap(curve.replicates);
}

void deallocate_all_curves(Curve_table& curves, int count) {
  for (int c = 0; c < count && c < max_curves; ++c) deallocate_curve_data(curves[c]);
}

int get_total_npar(const Fit_parameters& params) {
  // (L + 1)(S + 1) - 1 + M + S = L*S + L + S + M + S
  return (params.n_ligands + 1) * (params.n_sites + 1) + params.n_curves - 1 + params.n_sites;
}

}  // namespace kelvora
