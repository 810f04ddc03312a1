#pragma once
// A derivative-free quasi-Newton minimiser (the "CG" minimiser of the
// program's messages) of f(x) over n variables, and its use on the binding
// objective.
//
// Contract of quasi_newton_minimise: given f and a starting point x, it
// searches for a lower f along quasi-Newton directions d = -B^-1 g, where g
// is a finite-difference gradient and B = L D L^T a factored positive-
// definite curvature matrix corrected after every line search. The variables
// are scaled by their starting magnitudes, y_i = x_i / s_i (s_i = |x_i|, or 1
// when |x_i| < 1e-15), so every non-zero starting variable becomes +-1. It
// runs at most two passes of at most 200 evaluations each, the second with a
// tenfold finer difference step from a point polished by 11 small random
// perturbations. A best value not below 1.05 f(start)
// returns to the start; x receives the result only when it is usable
// (finite, |y_i| <= 1e10 and f not above 2 f(start)); otherwise x keeps its
// starting values and the status is `error`.
//   Curvature correction: R. Fletcher, Comput. J. 13, 317-322 (1970);
//   factored updates: P.E. Gill, G.H. Golub, W. Murray and M.A. Saunders,
//   Math. Comp. 28, 505-535 (1974).

#include <functional>
#include <span>
#include <string_view>

#include "data/records.hpp"
#include "fit/fit_random.hpp"
#include "fit/least_squares.hpp"
#include "util/console.hpp"

namespace kelvora {

// f(x(0..n-1)); may return a value that is not a number.
using Objective_callback = std::function<double(const double* x, int n)>;
// Receives the minimiser's error lines.
using Message_callback = std::function<void(std::string_view line)>;

// The system's limits and tolerances.
struct Quasi_newton_options {
  int pass_evaluations = 200;  // evaluations per pass, the polish not included
  int passes = 2;
  // Relative difference step of the gradient in the first pass (a
  // single-precision constant), divided by 10 for each later pass.
  double accuracy = 0.001f;
  // A first pass that ends with |1 - f_end / f_start| <= this (and changed
  // f at all) has converged.
  double pass_convergence = 1e-6;
  int polish_trials = 11;
  int polish_numbers = 150;    // uniform numbers drawn for the polish
  double polish_size = 1e-4;   // trial_i = (1 + (k - 6) u 1e-4) y_i, k = 1..11
  double start_limit = 1e15;   // larger |x_i| or f(start) is refused
  double scaled_limit = 1e10;  // a result with larger |y_i| is refused
};

// The status values; a caller need only tell `error` from the rest.
namespace qn_status {
constexpr int error = -1;
constexpr int converged = 1;
constexpr int no_descent = 2;     // no descent direction even with central differences
constexpr int budget = 3;         // evaluation budget or step limit reached
constexpr int not_converged = 4;  // the final pass ended without converging in its budget
}  // namespace qn_status

struct Quasi_newton_result {
  int status = 0;
  // f at the returned x; f(start) on error or after f returned a value that
  // is not a number (not a number when the starting values were refused).
  double f_best = 0.0;
  long long evaluations = 0;  // calls of f, the polish included
  int passes = 0;             // passes run
};

// Minimises f from x (n = x.size()) in place. Each polish applies
// `before_polish` to `rng` and then draws from it; a seeding that installs
// the same seed every time makes two calls with the same f and x agree.
// Error lines ("CG ERROR: ...") go to `report`.
Quasi_newton_result quasi_newton_minimise(const Objective_callback& f, std::span<double> x,
                                          Random_generator& rng, const Seeding& before_polish,
                                          const Message_callback& report,
                                          const Quasi_newton_options& options = {});

// Runs the minimiser on a least-squares problem from the trial point, whose
// SS0 it evaluates first; every trial of the minimiser is evaluated as the
// other minimisers evaluate theirs (projected first), on a private copy of
// the state, so that the projection never reaches the minimiser. The result
// is accepted when the status is not error and f_best <= 1.1 SS0; otherwise
// "CG optimization skipped (unstable for this data)" is printed and the
// starting point restored. On return the trial and the accepted point hold
// the result, state.ss is 1.05 times the SS reached (or SS0), and
// state.evaluations has grown by every evaluation made. Without residuals
// only SS0 is evaluated. The polish draws from random.generator after
// random.before_polish.
Quasi_newton_result va10_cg(Console& console, const Least_squares_problem& problem,
                            Search_state& state, const Fit_random& random);

}  // namespace kelvora
