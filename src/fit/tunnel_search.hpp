#pragma once
// The tunnel move: a random multiplicative search around the current point
// that lets the local minimisers leave a shallow valley or a plateau.

#include "data/records.hpp"
#include "util/random.hpp"

namespace kelvora {

struct Tunnel_result {
  bool improved = false;
  long long evaluations = 0;  // objective evaluations made
};

// Keeps the best of 600 trial points: 40 stages of 15 trials, with spread
// sigma = 0.75, 0.25, 0.1 and 0.01 for ten stages each. Trial j (1..15) of a
// stage scales every variable of the best point so far,
//   x(p) <- best(p) (1 + (j - 8) r sigma),   r = 0.9 u + 0.05 in [0.05, 0.95),
// the u taken in turn from 150 uniform numbers drawn once per call and handed
// to the variables in a freshly shuffled order (Fisher-Yates), so that below
// j = 8 all variables shrink and above it all grow, by different amounts.
// All the numbers come from `rng` as it stands: the caller seeds it (in a
// fit, through Fit_random::for_tunnel before every move).
//
// The best point is kept as evaluated, that is repaired by the objective
// (reflected, inside the admissible ranges), so that its SS belongs to it.
// On improvement the values and the accepted values of the variables hold
// the best point and opt.ss its SS. Otherwise the values, the accepted
// values and opt.ss are left exactly as they were. Either way the curves
// hold the residuals of the last trial. Constant parameters are never
// changed. Without variables nothing is done.
Tunnel_result tunnel_search_kelvora3(Curve_table& curves, Fit_parameters& params,
                                     Optimization_data& opt, Random_generator& rng);

}  // namespace kelvora
