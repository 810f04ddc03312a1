#pragma once
// The staged fit of several curves: each curve alone, the average of their
// fits, then the curves jointly with the damped least-squares loops and the
// tunnel move. Works in place on the search state of the whole problem and
// prints nothing. Every tunnel move draws from random.for_tunnel().

#include "fit/binding_problem.hpp"
#include "fit/fit_random.hpp"
#include "fit/levenberg_marquardt.hpp"

namespace kelvora {

struct Strategy_summary {
  long long evaluations = 0;  // objective evaluations, the one-curve problems' included
};

// Fits every curve alone (simplex, 250 iterations, then Levenberg-Marquardt,
// 200) as a one-curve analysis: that curve, and a vector whose C1 is that
// curve's correction factor and whose B's are the analysis's. Then every
// variable K, R, N and B, trial and accepted, becomes the mean of its fitted
// values over the curves, and every variable C<c> curve c's own fitted
// value. When that point gains less than 5 % over ss_ref (the SS the caller
// measured before), a simplex of 200 iterations refines it on the whole
// problem.
Strategy_summary fit_curves_independently(const Binding_problem& problem, Search_state& state,
                                          double ss_ref);

// The staged fit: each curve alone and the average
// (fit_curves_independently), Levenberg-Marquardt (200 iterations), the
// tunnel strategy (optimize_fit_with_tunnel) and Levenberg-Marquardt (200)
// again, each stage from a point the objective has put in order.
Strategy_summary optimize_multidataset_staged(const Binding_problem& problem, Search_state& state,
                                              const Fit_random& random);

}  // namespace kelvora
