#pragma once
// Strategies built on the Levenberg-Marquardt step machinery, the simplex
// and the tunnel move (tunnel_search.hpp): two damped least-squares loops
// that call the tunnel move when the local steps get nowhere, and the staged
// fit of several curves (each curve alone, the average, then jointly).
// Each resets the damping factor at its start, works in place on the
// values, the accepted values and opt.ss, and prints nothing. Every tunnel
// move draws from random.for_tunnel().

#include "data/records.hpp"
#include "fit/fit_random.hpp"

namespace kelvora {

struct Strategy_summary {
  // Why a strategy ended: its iteration limit; an accepted step (or tunnel
  // move) that gained less than the relative tolerance after iteration 20;
  // damping beyond its limit with a tunnel move that found nothing; a step
  // that gained nothing with a tunnel move that found nothing, after
  // iteration 20; or, for the fixed sequences, the end of the sequence.
  enum class Stop { iteration_limit, small_gain, damping_exceeded, stalled, completed };
  long long evaluations = 0;  // objective evaluations, private copies included
  int iterations = 0;
  int tunnel_moves = 0;
  Stop stop = Stop::completed;
};

// Levenberg-Marquardt iterations (at most 500, numbered in opt.lm_mode, so
// the first step is damped with lambda = 0.001) that keep a step when it
// lowers SS; a failed or rejected step raises the damping (lambda <- the
// last determinant at 0, else 10 lambda), and once lambda exceeds 1e10 the
// tunnel move runs: damping restarts at 0 if it improved, else the loop
// ends. After iteration 20 a gain below 1e-6 of SS, by a step or by the
// tunnel move, ends it too. Returns with value = accepted = the best point.
Strategy_summary optimize_fit_with_tunnel(Curve_table& curves, Fit_parameters& params,
                                          Optimization_data& opt, const Fit_random& random);

// Levenberg-Marquardt iterations (at most 300, counted locally) with gentle
// damping changes (halved after a gain, doubled after a loss; at 0 it starts
// from 0.1 times the last determinant) and the tunnel move after every step
// that gains nothing, after a failed step once lambda exceeds 1e8, and after
// every ten stalled iterations (gain below 1e-8 of SS). Ends after iteration
// 20 at a gain below 1e-6 of SS (by a step or a tunnel move); at a step
// that gains nothing whose tunnel move finds nothing either, after
// iteration 20 or when an earlier tunnel move from the same accepted point
// found nothing too; and when a failed step beyond damping 1e8 has a
// fruitless tunnel move. Returns with value = accepted = the best point.
Strategy_summary optimize_with_adaptive_tunnel(Curve_table& curves, Fit_parameters& params,
                                               Optimization_data& opt, const Fit_random& random);

// Fits every curve alone (simplex, 250 iterations, then Levenberg-Marquardt,
// 200) as a one-curve analysis: a private copy of that curve and a record
// whose C1 is that curve's correction factor and whose B's are the
// analysis's. Then every variable K, R, N and B, value and accepted, becomes
// the mean of its fitted values over the curves, and every variable C<c>
// curve c's own fitted value. When that point gains less than 5 % over
// ss_ref (the SS the caller measured before), a simplex of 200 iterations
// refines it on the whole problem.
Strategy_summary fit_curves_independently(Curve_table& curves, Fit_parameters& params,
                                          Optimization_data& opt, double ss_ref);

// The staged fit of several curves: each curve alone and the average
// (fit_curves_independently), Levenberg-Marquardt (200 iterations), the
// tunnel strategy (optimize_fit_with_tunnel) and Levenberg-Marquardt (200)
// again, the sites kept in order after each stage. The values at entry are
// saved in params.backup.
Strategy_summary optimize_multidataset_staged(Curve_table& curves, Fit_parameters& params,
                                              Optimization_data& opt, const Fit_random& random);

}  // namespace kelvora
