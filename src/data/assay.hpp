#pragma once
// Telling competition curves from the others, putting saturation curves
// first, and describing the model of each curve.

#include <string>
#include <vector>

#include "data/records.hpp"

namespace kelvora {

class Console;

// The smallest fixed labelled concentration [M] of a competition curve; below
// it the labelled ligand counts as absent.
constexpr double min_competition_hot = 1.0e-30;

// True for a competition curve: two ligands in the analysis, different
// varying and labelled ligands, and a labelled concentration that is present
// (>= 1e-30) and the same at every point (to 1e-12 relative).
bool is_competition_assay(const Curve_data& curve, const Fit_parameters& params);

// True when no saturation flag follows a non-saturation flag.
bool is_already_sorted(const std::vector<bool>& is_saturation);

// Moves the saturation curves (varying = labelled ligand) before all others,
// keeping the read order within each kind, and says what it does.
void reorder_curves_saturation_first(Console& console, Curve_table& curves,
                                     const Fit_parameters& params);

// Prints the model description of every curve; changes nothing.
void print_binding_model_info(Console& console, const Curve_table& curves,
                              const Fit_parameters& params);

// A ligand that is never the labelled one, with its nonspecific ratio N and
// all its affinities K variable. Its free concentration obeys
//   F = T / (1 + C·N + sum_s K(s)·Q(s)),
// so the bound labelled ligand depends on K(s) and N only through the
// ratios K(s)/(1 + C·N): along the valley that keeps them, the sum of
// squares does not change (exactly when all curves share one C), and the
// fitted K and N are arbitrary.
struct Ratio_only {
  int ligand = 0;
  int n_slot = 0;
  std::vector<int> k_slots;
  // The ratio a K slot enters through, e.g. "K21/(1 + C*N2)".
  std::string ratio(const Fit_parameters& params, int k_slot) const;
};
std::vector<Ratio_only> ratio_only_parameters(const Curve_table& curves,
                                              const Fit_parameters& params);

// True when every curve of the analysis is a saturation curve.
bool all_saturation_curves(const Curve_table& curves, const Fit_parameters& params);

}  // namespace kelvora
