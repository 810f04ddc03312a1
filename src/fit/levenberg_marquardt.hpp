#pragma once
// The damped least-squares (Levenberg-Marquardt) loop. One loop serves every
// variant of the fit; a variant is a policy: how it starts, how its damping
// follows an accepted step (with the step quality rho), a rejected step and
// a refused step, when it stops, and where it calls the tunnel move.
//
// Every iteration starts at the accepted point, takes the normal equations
// there (scaled, see least_squares.hpp) and solves
//   (H + lambda I) u = g
// for the scaled step u; variables whose step would leave their admissible
// range are held at the bound they cross. The step is applied, repaired by
// the problem where it leaves the admissible region, and evaluated unless
// the policy decides otherwise; a trial below the reference SS (the SS of
// the accepted point) becomes the accepted point.
//   Levenberg-Marquardt method: Q. Appl. Math. 2, 164-168 (1944);
//   J. Soc. Indust. Appl. Math. 11, 431-441 (1963).

#include "fit/fit_random.hpp"
#include "fit/least_squares.hpp"

namespace kelvora {

// The first damped value, and the largest worth trying: beyond it a step is
// too short to matter.
constexpr double first_damping = 0.001;
constexpr double damping_limit = 1e10;

// What one run did: the iterations begun, the objective evaluations and
// tunnel moves it made, and why it stopped.
struct Lm_summary {
  enum class Stop {
    iteration_limit,
    small_gain,            // an accepted step (or tunnel move) gained too little
    damping_beyond_limit,  // damping beyond its limit
    repeated_failures,     // too many refused or rejected steps in a row
    damping_exceeded,      // damping beyond its limit and a fruitless tunnel move
    stalled,               // a step that gained nothing and a fruitless tunnel move
  };
  Stop stop = Stop::iteration_limit;
  int iterations = 0;
  long long evaluations = 0;
  int tunnel_moves = 0;
};

// One run as its policy sees it.
struct Lm_run {
  Lm_run(const Least_squares_problem& p, Search_state& s) : problem(p), state(s) {}
  const Least_squares_problem& problem;
  Search_state& state;
  Normal_equations ne;
  std::array<double, max_var> step{};  // the damped step, unscaled
  double lambda = 0.0;                 // the damping
  double reference = 0.0;              // SS of the accepted point
  int iteration = 0;
  bool at_accepted = true;  // state.ss belongs to the accepted point
  Lm_summary summary;
};

// What the loop does after a refused step (a factorisation that failed or a
// step that had to be repaired).
enum class Lm_next { evaluate_step, next_iteration, stop };

class Lm_policy {
 public:
  virtual ~Lm_policy() = default;
  // Sets the damping, evaluates the start and sets the reference.
  virtual void enter(Lm_run& run) = 0;
  virtual Lm_next after_refused_step(Lm_run& run) = 0;
  // Before a trial is evaluated, and after (before it is judged).
  virtual void before_evaluation(Lm_run&) {}
  virtual void after_evaluation(Lm_run&) {}
  // After the trial became the accepted point, and after a trial that did
  // not lower SS. False ends the run (the policy sets summary.stop).
  virtual bool after_gain(Lm_run& run) = 0;
  virtual bool after_loss(Lm_run& run) = 0;
  // Hands the accepted point on (finish_at_accepted by default).
  virtual void leave(Lm_run& run);
};

struct Lm_options {
  int max_iterations = 100;
  Derivative_kind derivatives = Derivative_kind::numerical;
  // Whether the run numbers its iterations in state.counted_iterations.
  bool counts_iterations = false;
};

Lm_summary levenberg_marquardt(const Least_squares_problem& problem, Search_state& state,
                               const Lm_options& options, Lm_policy& policy);

// Parts of the loop that the policies use.

// The accepted point becomes the trial again and, unless `at_accepted` says
// that state.ss already belongs to it, is evaluated.
void finish_at_accepted(const Least_squares_problem& problem, Search_state& state,
                        bool at_accepted);

// After a refused step: lambda <- 10 lambda, or, at lambda = 0, the last
// pivot product (first_damping when none is positive). After a rejected
// step: lambda <- 10 lambda, or first_damping at lambda = 0. Both return
// false once lambda exceeds damping_limit.
bool raise_damping_after_refusal(Lm_run& run);
bool raise_damping_after_rejection(Lm_run& run);

// Decrease of SS that the Gauss-Newton model predicts for the step from the
// accepted point to the trial: 2 g^T u - u^T H u (u the scaled step).
double predicted_decrease(const Lm_run& run);

// The variants.

// Plain: numerical derivatives, damping 0 at the start (a Gauss-Newton
// iteration until a step fails), divided by 10 after a gain and raised after
// a refused or rejected step; stops after max_iter iterations, on a gain
// below 1e-6 of SS after iteration 10, or when the damping exceeds 1e10.
Lm_summary optimize_fit_simple(const Least_squares_problem& problem, Search_state& state,
                               int max_iter);

// Enhanced: analytical derivatives, the step confined to a trust region
// (radius Delta on the step relative to max(1, |value|)), and damping and
// radius following rho = achieved / predicted decrease: rho < 0.25 halves
// Delta and multiplies lambda by 4, rho > 0.5 widens Delta by 1.5 (at most
// 10) and multiplies lambda by 0.6 (at least 1e-8). A refused step calls the
// tunnel move from the repaired trial. Stops after 200 iterations, on a gain
// below 1e-6 of SS, after eleven failures in a row or when lambda exceeds
// 1e10.
//   Trust-region damping: Moré, Lecture Notes in Math. 630, 105-116 (1978).
Lm_summary levenberg_marquardt_enhanced(const Least_squares_problem& problem, Search_state& state,
                                        const Fit_random& random);

// With the tunnel move (at most 500 iterations, counted, so the first step
// is damped with lambda = 0.001): a refused step raises the damping and its
// repaired point is still evaluated; a rejected step raises it too. Once
// lambda exceeds 1e10 the tunnel move runs from the accepted point: damping
// restarts at 0 if it improved, else the run ends. After iteration 20 a
// gain below 1e-6 of SS, by a step or by the tunnel move, ends it too.
Lm_summary optimize_fit_with_tunnel(const Least_squares_problem& problem, Search_state& state,
                                    const Fit_random& random);

// Adaptive (at most 300 iterations, not counted): gentle damping (halved
// after a gain, doubled after a loss; at 0 it starts from 0.1 times the last
// pivot product) and the tunnel move after every step that gains nothing,
// after a refused step once lambda exceeds 1e8, and after every ten stalled
// iterations (gain below 1e-8 of SS). Ends after iteration 20 at a gain
// below 1e-6 of SS; at a step that gains nothing whose tunnel move finds
// nothing either, after iteration 20 or when an earlier move from the same
// accepted point found nothing too; and when a refused step beyond damping
// 1e8 has a fruitless tunnel move.
Lm_summary optimize_with_adaptive_tunnel(const Least_squares_problem& problem, Search_state& state,
                                         const Fit_random& random);

}  // namespace kelvora
