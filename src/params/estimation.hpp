#pragma once
// The starting values of a set-up pass: which automatic estimator serves the
// curves, and the rule for the parameters that saturation curves of both
// ligands determine twice.

#include <array>

#include "data/records.hpp"

namespace kelvora {

class Console;

// What the estimation keeps from one set-up pass of an analysis to the next.
struct Estimation_state {
  // The Schliebs-Bigl figures, kept from pass to pass when an estimation
  // leaves them unset (0 at first, so that Scatchard estimation follows).
  double r_yb = 0.0;
  double r2 = 0.0;
  // Slots held at the values the redundant-parameter step gave them, which
  // the repeated estimates dialogue must not ask again.
  std::array<bool, max_params> tied{};
};

// True when the analysis holds a saturation curve of ligand 1 and one of
// ligand 2: only then are the affinities determined twice.
bool saturation_of_both_ligands(const Curve_table& curves, const Fit_parameters& params);

// Saturation curves of ligands 1 and 2 fitted together determine the same
// affinities twice and the nonspecific ratio of ligand 1 not at all: K2s is
// tied to K1s and N1 fixed at 1e-4. Holds them constant, marks them in
// `tied`, says so on the console and builds the variable map again.
void fix_redundant_parameters(Console& console, Fit_parameters& params,
                              std::array<bool, max_params>& tied);

// The values of the redundant-parameter step for the slots marked in `tied`
// (current and accepted): K2s = K1s, N1 = 1e-4.
void apply_redundant_values(Fit_parameters& params, const std::array<bool, max_params>& tied);

// Schliebs-Bigl estimates for saturation data, with Scatchard estimation
// when the regression is poor (R^2 < 0.5, or B/F hardly falling with B).
void saturation_estimates(Console& console, const Curve_table& curves, Fit_parameters& params,
                          Estimation_state& state);

// The automatic estimates of a set-up pass, announced on the console (with a
// notice that waits for ENTER when there are several curves): the
// competition pre-adjustment when the first curve (after the reordering) is
// a competition curve, otherwise the saturation estimates, which become the
// accepted values. True in the second case: the saturation estimates are a
// starting point for a short minimisation.
// Without `wait_for_enter` the notice of several curves does not wait.
bool estimate_starting_values(Console& console, const Curve_table& curves, Fit_parameters& params,
                              Estimation_state& state, bool wait_for_enter = true);

}  // namespace kelvora
