#pragma once
// The minimisers of a least-squares problem (least_squares.hpp). Each works
// in place on a search state: the trial, the accepted point (the best so far)
// and the SS handed on. None prints anything.

#include "fit/fit_random.hpp"
#include "fit/least_squares.hpp"
#include "fit/levenberg_marquardt.hpp"

namespace kelvora {

// Nelder-Mead simplex (reflection 1, expansion 1.75, contraction and shrink
// 0.6), the second vertex along each variable from the problem
// (simplex_vertex). Stops after max_iter iterations or, from the tenth on,
// when |f(worst) - f(best)| <= 1e-6 |f(best)|. Returns with the best vertex
// in the trial and the accepted point and state.ss = min(f(best), the
// state.ss held at entry).
//   Nelder-Mead simplex method: Comput. J. 7, 308-313 (1965).
struct Simplex_summary {
  int iterations = 0;
  long long evaluations = 0;
  bool converged = false;  // stopped on the spread of the vertices, not max_iter
};
Simplex_summary nelder_mead_simplex(const Least_squares_problem& problem, Search_state& state,
                                    int max_iter);

// The vertices that one simplex iteration works with, from the values
// f(0 .. n_vertices - 1): best has the lowest value, worst the highest (the
// first vertex of equal values in both), and second the highest value among
// the vertices other than worst, which a reflected point must beat to be
// kept. With fewer than two vertices all three are 0.
struct Simplex_ranking {
  int best = 0;
  int worst = 0;
  int second = 0;
};
Simplex_ranking rank_simplex(const double* f, int n_vertices);

}  // namespace kelvora
