// The damped least-squares loop and its four policies (see
// levenberg_marquardt.hpp).
//
// With e = Y - Yhat, d = dYhat/dtheta and weights w, the normal equations of
// the problem give g = -1/2 grad SS and H = sum w d d^T, scaled so that
// H(i,i) -> 1 + 1e-8 and lambda is relative to the curvature of each
// variable. Step quality: the model of SS around the accepted point is
// SS(u) ~ SS - 2 g^T u + u^T H u for a scaled step u, so the step taken
// (after any trust-region cut and the repairs) is predicted to lower SS by
// P = 2 g^T u - u^T H u, and rho = (SS_prev - SS) / P is 1 when the model is
// exact and positive whenever SS falls.

#include "fit/levenberg_marquardt.hpp"

#include <algorithm>
#include <cmath>

#include "fit/tunnel_search.hpp"

namespace kelvora {

namespace {

// In-place Cholesky factorisation A = L L^T of the lower triangle of the
// leading m x m block; det receives the product of the pivots. False when a
// pivot is not positive.
bool cholesky_decomp(int m, Variable_matrix& a, double& det) {
  det = 1.0;
  for (int j = 0; j < m; ++j) {
    for (int i = j; i < m; ++i) {
      double v = a[i][j];
      for (int k = 0; k < j; ++k) v -= a[i][k] * a[j][k];
      if (i == j) {
        det *= v;
        if (!(v > 0.0)) return false;
        a[j][j] = std::sqrt(v);
      } else {
        a[i][j] = v / a[j][j];
      }
    }
  }
  return true;
}

// Solves L L^T x = b with the factor of cholesky_decomp.
void solve_linear_sys(int m, const Variable_matrix& l, const double* b, double* x) {
  double y[max_var];
  for (int i = 0; i < m; ++i) {  // L y = b
    double v = b[i];
    for (int k = 0; k < i; ++k) v -= l[i][k] * y[k];
    y[i] = v / l[i][i];
  }
  for (int i = m - 1; i >= 0; --i) {  // L^T x = y
    double v = y[i];
    for (int k = i + 1; k < m; ++k) v -= l[k][i] * x[k];
    x[i] = v / l[i][i];
  }
}

// The damped step from the accepted point into the trial: false when the
// factorisation failed (the trial is then the accepted point) or the step
// had to be repaired.
bool damped_step(Lm_run& run) {
  const Least_squares_problem& problem = run.problem;
  Search_state& s = run.state;
  const Normal_equations& ne = run.ne;
  const int m = s.n;
  // A run whose iteration counter stands at 1 starts damped.
  if (s.counted_iterations == 1 && run.lambda == 0.0) run.lambda = first_damping;
  // Variables whose step would leave their admissible range are held at the
  // bound they cross, and the step of the others solves the damped system
  // with those moves given:
  //   (H + lambda I)_ff x_f = g_f - H_fb x_b.
  // A minimum on a bound (a nonspecific ratio of 0, a vanishing second site,
  // a correction factor at its limit) is thus approached like any other,
  // where a step that crossed the bound would only be repaired and refused.
  bool held[max_var] = {};
  double x[max_var] = {};  // scaled step
  Variable_matrix work;
  for (int round = 0; round <= m; ++round) {
    int free[max_var];
    int n_free = 0;
    double rhs[max_var] = {};  // entries past n_free are never read
    for (int i = 0; i < m; ++i) {
      if (held[i]) continue;
      double r = ne.g[i];
      for (int k = 0; k < m; ++k)
        if (held[k]) r -= (k < i ? ne.h[i][k] : ne.h[k][i]) * x[k];
      rhs[n_free] = r;
      free[n_free++] = i;
    }
    for (int a = 0; a < n_free; ++a) {
      for (int b = 0; b <= a; ++b) work[a][b] = ne.h[free[a]][free[b]];
      if (run.lambda > 0.0) work[a][a] += run.lambda;
    }
    double det = 1.0;
    if (n_free > 0 && !cholesky_decomp(n_free, work, det)) return false;
    s.last_pivot_product = det;
    double x_free[max_var];
    solve_linear_sys(n_free, work, rhs, x_free);
    for (int a = 0; a < n_free; ++a) x[free[a]] = x_free[a];
    bool newly_held = false;
    for (int i = 0; i < m; ++i) {
      if (held[i]) continue;
      const auto range = problem.range(i);
      const double accepted = s.accepted[i];
      const double updated = accepted + x[i] / ne.scale[i];
      if (!range || !(updated < range->lower || updated > range->upper)) continue;
      const double bound = updated < range->lower ? range->lower : range->upper;
      // Only a value inside the range is held at its bound (one outside it
      // is left to the repairs).
      if (!(accepted >= range->lower && accepted <= range->upper)) continue;
      held[i] = newly_held = true;
      x[i] = (bound - accepted) * ne.scale[i];
    }
    if (!newly_held) break;
  }
  bool ok = true;
  for (int i = 0; i < m; ++i) {
    run.step[i] = x[i] / ne.scale[i];
    const double updated = s.accepted[i] + run.step[i];
    s.value[i] = updated;
    if (const auto repaired = problem.repair_step(i, s.accepted[i], updated)) {
      s.value[i] = *repaired;
      ok = false;
    }
  }
  for (int i = 0; i < m; ++i) {
    if (s.value[i] >= 1e30) {
      s.value[i] = 1e30;
      ok = false;
    }
  }
  return ok;
}

// (before - after) / before < tolerance, written without the division so
// that before = 0 (an exact fit) counts as no gain rather than as NaN.
bool gain_below(double before, double after, double tolerance) {
  return before - after < tolerance * before;
}

// Before iteration `grace_iterations` + 1 the tunnel strategies are not
// stopped for a small gain: the damping is still being tuned.
constexpr int grace_iterations = 20;

// The policies that call the tunnel move from the accepted point: an
// undamped start whose accepted point is the trial as the objective projects
// it, and the move itself.
class Tunnel_from_accepted : public Lm_policy {
 public:
  explicit Tunnel_from_accepted(const Fit_random& random) : random_(random) {}
  void enter(Lm_run& run) override {
    run.lambda = 0.0;
    evaluate(run.problem, run.state);
    run.state.accept();
    run.reference = run.state.ss;
  }

 protected:
  // The move from the accepted point, whose SS is the reference. On
  // improvement the trial and the accepted point hold the point found and
  // state.ss its SS; otherwise the accepted point and the reference are back.
  bool tunnel_from_accepted(Lm_run& run) const {
    run.state.restore_accepted();
    run.state.ss = run.reference;
    ++run.summary.tunnel_moves;
    run.at_accepted = false;
    return tunnel_search_kelvora3(run.problem, run.state, random_.for_tunnel()).improved;
  }

 private:
  const Fit_random& random_;
};

// Plain Levenberg-Marquardt.
class Plain_policy final : public Lm_policy {
 public:
  void enter(Lm_run& run) override {
    run.lambda = 0.0;
    run.reference = evaluate(run.problem, run.state);
  }
  Lm_next after_refused_step(Lm_run& run) override {
    if (raise_damping_after_refusal(run)) return Lm_next::next_iteration;
    run.summary.stop = Lm_summary::Stop::damping_beyond_limit;
    return Lm_next::stop;
  }
  bool after_gain(Lm_run& run) override {
    const double ss = run.state.ss;
    // (ss_prev - ss) / ss_prev < 1e-6 after ten iterations: converged.
    if (run.iteration > 10 && (run.reference - ss) / run.reference < 1e-6) {
      run.summary.stop = Lm_summary::Stop::small_gain;
      return false;
    }
    run.reference = ss;
    run.lambda = std::max(run.lambda / 10.0, 0.0);
    return true;
  }
  bool after_loss(Lm_run& run) override {
    const bool go_on = raise_damping_after_rejection(run);
    run.state.restore_accepted();
    if (!go_on) run.summary.stop = Lm_summary::Stop::damping_beyond_limit;
    return go_on;
  }
  void leave(Lm_run& run) override {
    // Hand the best point on, not a refused trial left behind.
    const Search_state& s = run.state;
    bool trial_left = false;
    for (int i = 0; i < s.n; ++i) trial_left = trial_left || s.value[i] != s.accepted[i];
    finish_at_accepted(run.problem, run.state, run.at_accepted && !trial_left);
  }
};

// Enhanced: trust region, damping by step quality, tunnel after a refusal.
class Enhanced_policy final : public Lm_policy {
 public:
  explicit Enhanced_policy(const Fit_random& random) : random_(random) {}
  void enter(Lm_run& run) override {
    run.lambda = first_damping;
    evaluate(run.problem, run.state);
    if (run.state.ss > 1e30) run.state.ss = 1e30;
    run.reference = run.state.ss;
    run.state.accept();
  }
  Lm_next after_refused_step(Lm_run& run) override {
    run.lambda *= 10.0;
    if (++failures_ > max_failures) {
      run.summary.stop = Lm_summary::Stop::repeated_failures;
      return Lm_next::stop;
    }
    // A repaired or refused step: look at random around the repaired trial
    // for a point better than the accepted one. From an improvement the next
    // iteration starts afresh: the failed step belonged to the old point.
    ++run.summary.tunnel_moves;
    run.state.ss = run.reference;
    if (tunnel_search_kelvora3(run.problem, run.state, random_.for_tunnel()).improved) {
      run.lambda /= 20.0;
      run.reference = run.state.ss;
      failures_ = 0;
    } else {
      run.state.restore_accepted();
    }
    run.at_accepted = false;
    return Lm_next::next_iteration;
  }
  void before_evaluation(Lm_run& run) override {
    // r = |step / max(1, |accepted|)|; when r > radius the step is shortened
    // to the radius (replacing any repair).
    Search_state& s = run.state;
    double sum = 0.0;
    for (int i = 0; i < s.n; ++i) {
      const double relative = run.step[i] / std::max(1.0, std::abs(s.accepted[i]));
      sum += relative * relative;
    }
    const double r = std::sqrt(sum);
    if (r > radius_)
      for (int i = 0; i < s.n; ++i) s.value[i] = s.accepted[i] + run.step[i] * radius_ / r;
    predicted_ = predicted_decrease(run);
  }
  void after_evaluation(Lm_run& run) override {
    double rho = (run.reference - run.state.ss) / predicted_;
    if (std::abs(predicted_) > 1e-20 && std::abs(rho) > quality_clamp)
      rho = std::copysign(quality_clamp, rho);
    if (!(rho >= 0.25)) {  // a step that is not a number counts as poor
      radius_ /= 2.0;
      run.lambda *= 4.0;
    } else if (rho > 0.5) {
      radius_ = std::min(1.5 * radius_, max_radius);
      run.lambda = std::max(0.6 * run.lambda, min_damping);
    }
  }
  bool after_gain(Lm_run& run) override {
    if ((run.reference - run.state.ss) / run.reference < 1e-6) {
      run.summary.stop = Lm_summary::Stop::small_gain;
      return false;
    }
    run.reference = run.state.ss;
    failures_ = 0;
    return true;
  }
  bool after_loss(Lm_run& run) override {
    run.state.restore_accepted();
    run.lambda *= 10.0;
    ++failures_;
    // Beyond this damping a step is too short to change SS.
    if (run.lambda <= damping_limit) return true;
    run.summary.stop = Lm_summary::Stop::damping_beyond_limit;
    return false;
  }

 private:
  static constexpr int max_failures = 10;  // the eleventh failure in a row ends the run
  static constexpr double max_radius = 10.0;
  static constexpr double min_damping = 1e-8;
  static constexpr double quality_clamp = 100.0;
  const Fit_random& random_;
  double radius_ = 1.0;
  int failures_ = 0;
  double predicted_ = 0.0;
};

// With the tunnel move once the damping is beyond its limit.
class Tunnel_policy final : public Tunnel_from_accepted {
 public:
  using Tunnel_from_accepted::Tunnel_from_accepted;
  Lm_next after_refused_step(Lm_run& run) override {
    raise_damping_after_refusal(run);
    // Below the limit a repaired point that lowers SS is kept.
    if (run.lambda <= damping_limit) return Lm_next::evaluate_step;
    return tunnel_beyond_damping_limit(run) ? Lm_next::next_iteration : Lm_next::stop;
  }
  bool after_gain(Lm_run& run) override {
    if (run.iteration > grace_iterations &&
        gain_below(run.reference, run.state.ss, gain_tolerance)) {
      run.summary.stop = Lm_summary::Stop::small_gain;
      return false;
    }
    run.reference = run.state.ss;
    if (run.lambda > 0.0) run.lambda /= 10.0;
    return true;
  }
  bool after_loss(Lm_run& run) override {
    raise_damping_after_refusal(run);
    run.state.restore_accepted();
    // Rejected steps alone would raise lambda without end and repeat ever
    // shorter steps from the same point until the iteration limit.
    return run.lambda <= damping_limit || tunnel_beyond_damping_limit(run);
  }

 private:
  static constexpr double gain_tolerance = 1e-6;
  // Damping beyond its limit: the local steps are too short to matter, so
  // the tunnel move decides. True when the run goes on.
  bool tunnel_beyond_damping_limit(Lm_run& run) {
    const double before = run.reference;
    if (!tunnel_from_accepted(run)) {
      run.summary.stop = Lm_summary::Stop::damping_exceeded;
      return false;
    }
    run.lambda = 0.0;
    run.reference = run.state.ss;
    if (run.iteration > grace_iterations && gain_below(before, run.state.ss, gain_tolerance)) {
      run.summary.stop = Lm_summary::Stop::small_gain;
      return false;
    }
    return true;
  }
};

// Gentle damping and frequent tunnel moves.
class Adaptive_policy final : public Tunnel_from_accepted {
 public:
  using Tunnel_from_accepted::Tunnel_from_accepted;
  Lm_next after_refused_step(Lm_run& run) override {
    raise_damping(run);
    if (run.lambda > adaptive_damping_limit) {
      bool improved = false;
      if (!tunnel(run, true, improved)) return Lm_next::stop;
      if (!improved) {
        // Neither ever shorter steps nor the random search get anywhere.
        run.summary.stop = Lm_summary::Stop::damping_exceeded;
        return Lm_next::stop;
      }
      stalls_ = 0;
    }
    return Lm_next::next_iteration;
  }
  bool after_gain(Lm_run& run) override {
    const double ss = run.state.ss;
    fruitless_here_ = 0;
    const bool stalled = gain_below(run.reference, ss, stall_tolerance);
    const bool small = gain_below(run.reference, ss, gain_tolerance);
    run.lambda = std::max(0.5 * run.lambda, 0.0);
    run.reference = ss;
    if (stalled) {
      ++stalls_;
      if (run.iteration > grace_iterations) return stop_for_small_gain(run);
      if (stalls_ < stalls_before_tunnel) return true;
      stalls_ = 0;
      bool improved = false;
      return tunnel(run, true, improved);
    }
    stalls_ = 0;
    if (run.iteration > grace_iterations && small) return stop_for_small_gain(run);
    return true;
  }
  bool after_loss(Lm_run& run) override {
    ++stalls_;
    raise_damping(run);
    bool improved = false;
    if (!tunnel(run, false, improved)) return false;
    if (!improved && (run.iteration > grace_iterations || fruitless_here_ >= 2)) {
      // A converged point: the steps are rejected and the tunnel move finds
      // nothing; going on would spend a tunnel move per iteration. Before
      // the grace iterations end, the sign is a second fruitless search
      // from the same accepted point: one more search of the same
      // distribution is unlikely to find what two missed, and the
      // refinements that follow in a fit start their own damping here.
      run.summary.stop = Lm_summary::Stop::stalled;
      return false;
    }
    if (stalls_ < stalls_before_tunnel) return true;
    stalls_ = 0;
    return tunnel(run, true, improved);
  }

 private:
  static constexpr double adaptive_damping_limit = 1e8;
  static bool stop_for_small_gain(Lm_run& run) {
    run.summary.stop = Lm_summary::Stop::small_gain;
    return false;
  }
  static constexpr double stall_tolerance = 1e-8;
  static constexpr double gain_tolerance = 1e-6;
  static constexpr int stalls_before_tunnel = 10;

  // Doubled after a loss; from 0 it starts at a tenth of the last pivot
  // product (first_damping when none is known), as a rejected undamped
  // step would be repeated unchanged.
  static void raise_damping(Lm_run& run) {
    if (run.lambda != 0.0)
      run.lambda *= 2.0;
    else
      run.lambda =
          run.state.last_pivot_product > 0.0 ? 0.1 * run.state.last_pivot_product : first_damping;
  }
  // A tunnel move from the accepted point; on improvement its point and SS
  // become the reference (and, when `reset_damping`, lambda restarts at 0).
  // False when the move improved by less than the gain tolerance after the
  // grace iterations, which ends the run.
  bool tunnel(Lm_run& run, bool reset_damping, bool& improved) {
    const double before = run.reference;
    improved = tunnel_from_accepted(run);
    if (!improved) {
      ++fruitless_here_;
      return true;
    }
    fruitless_here_ = 0;
    if (reset_damping) run.lambda = 0.0;
    run.reference = run.state.ss;
    if (run.iteration > grace_iterations && gain_below(before, run.reference, gain_tolerance)) {
      run.summary.stop = Lm_summary::Stop::small_gain;
      return false;
    }
    return true;
  }
  int stalls_ = 0;
  // Tunnel moves that found nothing since the accepted point last moved.
  int fruitless_here_ = 0;
};

}  // namespace

void Lm_policy::leave(Lm_run& run) {
  finish_at_accepted(run.problem, run.state, run.at_accepted);
}

Lm_summary levenberg_marquardt(const Least_squares_problem& problem, Search_state& state,
                               const Lm_options& options, Lm_policy& policy) {
  Lm_run run(problem, state);
  const long long evaluations_at_entry = state.evaluations;
  if (options.counts_iterations) state.counted_iterations = 0;
  policy.enter(run);
  for (run.iteration = 1; run.iteration <= options.max_iterations; ++run.iteration) {
    if (options.counts_iterations) state.counted_iterations = run.iteration;
    run.summary.iterations = run.iteration;
    state.restore_accepted();
    problem.normal_equations(state.trial(), options.derivatives, run.ne);
    scale_normal_equations(state.n, run.ne);
    if (!damped_step(run)) {
      const Lm_next next = policy.after_refused_step(run);
      if (next == Lm_next::stop) break;
      if (next == Lm_next::next_iteration) continue;
    }
    policy.before_evaluation(run);
    evaluate(problem, state);
    run.at_accepted = false;
    policy.after_evaluation(run);
    if (state.ss < run.reference) {
      state.accept();
      run.at_accepted = true;
      if (!policy.after_gain(run)) break;
    } else if (!policy.after_loss(run)) {
      break;
    }
  }
  policy.leave(run);
  run.summary.evaluations = state.evaluations - evaluations_at_entry;
  return run.summary;
}

void finish_at_accepted(const Least_squares_problem& problem, Search_state& state,
                        bool at_accepted) {
  state.restore_accepted();
  if (!at_accepted) evaluate(problem, state);
}

bool raise_damping_after_refusal(Lm_run& run) {
  if (run.lambda != 0.0) {
    run.lambda *= 10.0;
  } else {
    // Should no positive pivot product be known (none factorised yet, or an
    // underflow), damping starts where a first damped iteration does.
    run.lambda = run.state.last_pivot_product > 0.0 ? run.state.last_pivot_product : first_damping;
  }
  return run.lambda <= damping_limit;
}

bool raise_damping_after_rejection(Lm_run& run) {
  // An undamped step that failed would only be taken again from the same
  // point, so damping starts at the value of a first damped iteration.
  run.lambda = run.lambda != 0.0 ? 10.0 * run.lambda : first_damping;
  return run.lambda <= damping_limit;
}

double predicted_decrease(const Lm_run& run) {
  const Search_state& s = run.state;
  const int m = s.n;
  double u[max_var];
  for (int i = 0; i < m; ++i) u[i] = (s.value[i] - s.accepted[i]) * run.ne.scale[i];
  double linear = 0.0, quadratic = 0.0;
  for (int i = 0; i < m; ++i) {
    linear += run.ne.g[i] * u[i];
    quadratic += run.ne.h[i][i] * u[i] * u[i];
    for (int k = 0; k < i; ++k) quadratic += 2.0 * run.ne.h[i][k] * u[i] * u[k];
  }
  return 2.0 * linear - quadratic;
}

Lm_summary optimize_fit_simple(const Least_squares_problem& problem, Search_state& state,
                               int max_iter) {
  Plain_policy policy;
  return levenberg_marquardt(problem, state, {max_iter, Derivative_kind::numerical, false}, policy);
}

Lm_summary levenberg_marquardt_enhanced(const Least_squares_problem& problem, Search_state& state,
                                        const Fit_random& random) {
  Enhanced_policy policy(random);
  return levenberg_marquardt(problem, state, {200, Derivative_kind::analytical, true}, policy);
}

Lm_summary optimize_fit_with_tunnel(const Least_squares_problem& problem, Search_state& state,
                                    const Fit_random& random) {
  Tunnel_policy policy(random);
  return levenberg_marquardt(problem, state, {500, Derivative_kind::numerical, true}, policy);
}

Lm_summary optimize_with_adaptive_tunnel(const Least_squares_problem& problem, Search_state& state,
                                         const Fit_random& random) {
  Adaptive_policy policy(random);
  return levenberg_marquardt(problem, state, {300, Derivative_kind::numerical, false}, policy);
}

}  // namespace kelvora
