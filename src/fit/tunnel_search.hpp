#pragma once
// The tunnel move: a random multiplicative search around the current point
// that lets the local minimisers leave a shallow valley or a plateau.

#include "fit/least_squares.hpp"
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
// A trial that repeats one made since the last improvement (the same j,
// sigma and order, or trial 8 again) is not evaluated: it cannot improve.
// All the numbers come from `rng` as it stands: the caller seeds it (in a
// fit, through Fit_random::for_tunnel before every move).
//
// The search starts from the trial state.value, whose SS is state.ss. The
// best point is kept as evaluated, that is projected by the objective, so
// that its SS belongs to it. On improvement the trial and the accepted point
// hold the best point and state.ss its SS. Otherwise the trial, the accepted
// point and state.ss are left exactly as they were. Without variables
// nothing is done.
Tunnel_result tunnel_search_kelvora3(const Least_squares_problem& problem, Search_state& state,
                                     Random_generator& rng);

}  // namespace kelvora
