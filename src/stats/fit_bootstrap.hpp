#pragma once
// The bootstrap of a finished fit, as an analysis runs it after every fit.

#include "data/records.hpp"
#include "stats/bootstrap_engine.hpp"
#include "util/console.hpp"
#include "util/random.hpp"

namespace kelvora {

// The number of replicates of the bootstrap of a fit.
constexpr int fit_bootstrap_replicates = 100;

// The bootstrap standard errors and intervals of the fitted parameters (see
// bootstrap_se.hpp), drawn from the process generator: one curve's pooled
// points after seeding it from the clock, several curves stratified by curve
// after seeding it with multicurve_seed. Every replicate's tunnel move is
// seeded by `before_tunnel`.
Bootstrap_results bootstrap_fitted_parameters(Console& console, Curve_table& curves,
                                              const Fit_parameters& params, Fit_outcome& opt,
                                              const Seeding& before_tunnel);

}  // namespace kelvora
