#pragma once
// The minimisers of the weighted sum of squares (objective.hpp). Each works
// on the variable parameters only, in place: the current values, the accepted
// values (the best point so far) and opt.ss. None prints anything.

#include "data/records.hpp"
#include "fit/fit_random.hpp"

namespace kelvora {

// Nelder-Mead simplex (reflection 1, expansion 1.75, contraction and shrink
// 0.6), with starting steps by parameter kind: K and R doubled, N raised by
// 0.05 (at most to 0.45), others times 1.5. Stops after max_iter iterations
// or, from the tenth on, when |f(worst) - f(best)| <= 1e-6 |f(best)|. Returns
// with the best vertex in value and accepted and opt.ss = min(f(best), the
// opt.ss held at entry).
//   Nelder-Mead simplex method: Comput. J. 7, 308-313 (1965).
struct Simplex_summary {
  int iterations = 0;
  long long evaluations = 0;
  bool converged = false;  // stopped on the spread of the vertices, not max_iter
};
Simplex_summary nelder_mead_simplex(Curve_table& curves, Fit_parameters& params,
                                    Optimization_data& opt, int max_iter);

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

// What one Levenberg-Marquardt run did: the iterations begun, the objective
// evaluations and tunnel moves it made, and why it stopped (max_iter reached,
// an accepted step that gained less than 1e-6 of SS, damping beyond 1e10, or
// eleven failed steps in a row).
struct Lm_summary {
  enum class Stop { iteration_limit, small_gain, damping_limit, repeated_failures };
  Stop stop = Stop::iteration_limit;
  int iterations = 0;
  long long evaluations = 0;
  int tunnel_moves = 0;
};

// Levenberg-Marquardt refinement with forward-difference derivatives: scaled
// normal equations with a 1e-8 relative ridge, damping lambda (0 at the
// start, a Gauss-Newton iteration until a step fails), Cholesky solution,
// steps from the accepted point repaired by parameter kind and kept only when
// they lower the objective. Returns with value = accepted = the best point
// and opt.ss and the curves' residuals belonging to it.
//   Levenberg-Marquardt method: Q. Appl. Math. 2, 164-168 (1944);
//   J. Soc. Indust. Appl. Math. 11, 431-441 (1963).
Lm_summary optimize_fit_simple(Curve_table& curves, Fit_parameters& params, Optimization_data& opt,
                               int max_iter);

// The enhanced refinement: derivatives by implicit differentiation of the
// mass-action equations, steps confined to a trust region (radius Delta on
// the step relative to max(1, |value|)) and a damping lambda that both follow
// the quality rho = achieved / predicted decrease of SS (the Gauss-Newton
// model's prediction for the step actually taken): rho < 0.25 halves Delta
// and multiplies lambda by 4, rho > 0.5 widens Delta by 1.5 (at most 10) and
// multiplies lambda by 0.6 (at least 1e-8). A refused factorisation or a
// repaired step calls the tunnel move, drawing from random.for_tunnel().
// Stops after 200 iterations, on a gain below 1e-6 of SS, after eleven
// failures in a row or when lambda exceeds 1e10. Returns at the best point
// found with SS and residuals belonging to it, and the numerical gradient and
// Hessian there in `opt`.
Lm_summary levenberg_marquardt_enhanced(Curve_table& curves, Fit_parameters& params,
                                        Optimization_data& opt, const Fit_random& random);

// Decrease of SS that the Gauss-Newton model in `opt` (scaled gradient and
// Hessian) predicts for the step from the accepted values to the current ones:
//   2 g^T u - u^T H u   (u the step in the scaled variables).
double predicted_decrease(const Fit_parameters& params, const Optimization_data& opt);

// Damping of the Levenberg-Marquardt iterations (opt.lambda). The first
// damped value, and the largest worth trying: beyond it a step is too short
// to matter.
constexpr double first_damping = 0.001;
constexpr double damping_limit = 1e10;

// After a refused factorisation: lambda <- 10 lambda, or, at lambda = 0, the
// last determinant (opt.lambda_start; first_damping when none is positive).
// After a step that did not lower SS: lambda <- 10 lambda, or first_damping
// at lambda = 0. Both return false once lambda exceeds damping_limit.
bool raise_damping_after_failure(Optimization_data& opt);
bool raise_damping_after_rejection(Optimization_data& opt);

// Hands a strategy's accepted point on: its values become current and, unless
// `at_accepted` says that opt.ss and the curves' residuals already belong to
// it, it is evaluated.
void finish_at_accepted(Curve_table& curves, Fit_parameters& params, Optimization_data& opt,
                        bool at_accepted);

// The parts of the Levenberg-Marquardt step, shared with the other
// least-squares strategies.

// Gradient g = sum w (e + e^2 v'/(2 v)) d (minus half the gradient of SS, the
// weights w = r / v(Yhat) depending on the prediction) and Gauss-Newton
// Hessian H = sum w d d^T over all points at the current values (d the
// derivatives of the prediction, by forward differences or analytically),
// scaled by s = sqrt(H(i,i)) (or 1), with H(i,i) raised by 1e-8 |H(i,i)|
// before scaling.
enum class Derivative_kind { numerical, analytical };
void calculate_gradient_hessian(Curve_table& curves, Fit_parameters& params, Optimization_data& opt,
                                Derivative_kind kind = Derivative_kind::numerical);
void calculate_analytical_gradient_hessian(Curve_table& curves, Fit_parameters& params,
                                           Optimization_data& opt);

// d(p) = dYhat/dvalue(p) of one point (0-based) for every variable slot p
// (0 for constant ones), by implicit differentiation of the conservation
// equations.
void calculate_derivatives_analytical(const Curve_data& curve, const Fit_parameters& params,
                                      int point, double* d, int curve_number);

// d(p) ~ dYhat/dvalue(p) of one point (0-based) for every variable slot p
// (0 for constant ones), by a forward difference with step
// 1e-7 max(|value|, floor) (floors K 1e5, R 1e-14, N 1e-3, C 0.1, B 0.25),
// taken downwards at the upper bound of the kind.
void calculate_derivatives2(const Curve_data& curve, Fit_parameters& params, int point, double* d,
                            int curve_number);

// In-place Cholesky factorisation A = L L^T of the lower triangle of the
// leading m x m block; det receives the product of the pivots. False when a
// pivot is not positive (det is then 1e-4).
bool cholesky_decomp(int m, Variable_matrix& a, double& det);

// Solves L L^T x = b with the factor of cholesky_decomp.
void solve_linear_sys(int m, const Variable_matrix& l, const double* b, double* x);

// Accepted value + step into the values of the variable parameters, with the
// repairs by kind; false when a value had to be repaired.
bool apply_corrections(Fit_parameters& params, const Optimization_data& opt);

// The damped step: A = H + lambda I factorised and solved, the step unscaled
// and applied to the accepted values; false when the factorisation failed or
// the step was repaired. A strategy that counts its iterations in
// opt.lm_mode starts damped: at lm_mode = 1, lambda = 0 becomes first_damping.
bool levenberg_marquardt_step(Fit_parameters& params, Optimization_data& opt);

}  // namespace kelvora
