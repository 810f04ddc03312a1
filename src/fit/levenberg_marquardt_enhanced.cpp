// Enhanced Levenberg-Marquardt refinement (see minimisers.hpp): analytical
// derivatives, a trust region and damping steered by the step quality, and
// the tunnel move after a failed step.
//
// Step quality. With g the scaled gradient (minus half the gradient of SS)
// and H the scaled Gauss-Newton Hessian, the model of SS around the accepted
// point is SS(u) ~ SS - 2 g^T u + u^T H u for a step u in scaled variables,
// so the step taken (after the trust-region cut and the repairs) is predicted
// to lower SS by P = 2 g^T u - u^T H u, and rho = (SS_prev - SS) / P is 1
// when the model is exact and positive whenever SS falls.
//   Trust-region damping: Moré, Lecture Notes in Math. 630, 105-116 (1978).

#include <algorithm>
#include <cmath>

#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "fit/tunnel_search.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {

namespace {

constexpr int max_iterations = 200;
constexpr int max_failures = 10;  // the eleventh failure in a row ends the run
constexpr double start_radius = 1.0;
constexpr double max_radius = 10.0;
constexpr double min_damping = 1e-8;
constexpr double quality_clamp = 100.0;

// r = |delta / max(1, |accepted|)|; when r > radius the step is shortened to
// the radius: value = accepted + delta radius / r (replacing any repair).
void apply_trust_region(Fit_parameters& params, const Optimization_data& opt, double radius) {
  double sum = 0.0;
  for (int i = 0; i < params.n_var; ++i) {
    const double relative =
        opt.delta[i] / std::max(1.0, std::abs(params.accepted[params.var_map[i]]));
    sum += relative * relative;
  }
  const double r = std::sqrt(sum);
  if (!(r > radius)) return;
  for (int i = 0; i < params.n_var; ++i) {
    const int p = params.var_map[i];
    params.value[p] = params.accepted[p] + opt.delta[i] * radius / r;
  }
}

}  // namespace

double predicted_decrease(const Fit_parameters& params, const Optimization_data& opt) {
  const int m = params.n_var;
  double u[max_var];
  for (int i = 0; i < m; ++i) {
    const int p = params.var_map[i];
    u[i] = (params.value[p] - params.accepted[p]) * opt.scale[i];
  }
  double linear = 0.0, quadratic = 0.0;
  for (int i = 0; i < m; ++i) {
    linear += opt.beta[i] * u[i];
    quadratic += opt.alpha[i][i] * u[i] * u[i];
    for (int k = 0; k < i; ++k) quadratic += 2.0 * opt.alpha[i][k] * u[i] * u[k];
  }
  return 2.0 * linear - quadratic;
}

Lm_summary levenberg_marquardt_enhanced(Curve_table& curves, Fit_parameters& params,
                                        Optimization_data& opt, const Fit_random& random) {
  Lm_summary summary;
  const long long evaluations_at_entry = opt.n_evaluations;
  opt.lm_mode = 0;
  opt.lambda = first_damping;
  double radius = start_radius;
  int failures = 0;
  evaluate_model(curves, params, opt);
  if (opt.ss > 1e30) opt.ss = 1e30;
  opt.ss_prev = opt.ss;
  update_parameters(params, opt);
  // Whether opt.ss and the residuals belong to the accepted point.
  bool at_accepted = true;

  while (opt.lm_mode < max_iterations) {
    ++opt.lm_mode;
    summary.iterations = opt.lm_mode;
    restore_accepted(params);
    calculate_analytical_gradient_hessian(curves, params, opt);
    if (!levenberg_marquardt_step(params, opt)) {
      opt.lambda *= 10.0;
      if (++failures > max_failures) {
        summary.stop = Lm_summary::Stop::repeated_failures;
        break;
      }
      // A repaired or refused step: look at random around the repaired
      // trial for a point better than the accepted one (opt.ss may hold the
      // sum of a rejected trial, so the accepted point's sum is the one to
      // beat). From an improvement the next iteration starts afresh: the
      // failed step belonged to the old point.
      ++summary.tunnel_moves;
      opt.ss = opt.ss_prev;
      if (tunnel_search_kelvora3(curves, params, opt, random.for_tunnel()).improved) {
        opt.lambda /= 20.0;
        opt.ss_prev = opt.ss;
        failures = 0;
      } else {
        restore_accepted(params);
      }
      at_accepted = false;  // the curves hold the last trial's residuals
      continue;
    }
    apply_trust_region(params, opt, radius);
    const double predicted = predicted_decrease(params, opt);
    evaluate_model(curves, params, opt);
    at_accepted = false;

    double rho = (opt.ss_prev - opt.ss) / predicted;
    if (std::abs(predicted) > 1e-20 && std::abs(rho) > quality_clamp)
      rho = std::copysign(quality_clamp, rho);
    if (!(rho >= 0.25)) {  // a step that is not a number counts as poor
      radius /= 2.0;
      opt.lambda *= 4.0;
    } else if (rho > 0.5) {
      radius = std::min(1.5 * radius, max_radius);
      opt.lambda = std::max(0.6 * opt.lambda, min_damping);
    }

    if (opt.ss < opt.ss_prev) {
      update_parameters(params, opt);
      at_accepted = true;
      if ((opt.ss_prev - opt.ss) / opt.ss_prev < 1e-6) {
        summary.stop = Lm_summary::Stop::small_gain;
        break;
      }
      opt.ss_prev = opt.ss;
      failures = 0;
    } else {
      restore_accepted(params);
      opt.lambda *= 10.0;
      ++failures;
      // Beyond this damping a step is too short to change SS.
      if (opt.lambda > damping_limit) {
        summary.stop = Lm_summary::Stop::damping_limit;
        break;
      }
    }
  }
  // Hand the best point on, with SS and residuals belonging to it, and the
  // numerical gradient and Hessian there for the statistics that follow.
  finish_at_accepted(curves, params, opt, at_accepted);
  calculate_gradient_hessian(curves, params, opt);
  summary.evaluations = opt.n_evaluations - evaluations_at_entry;
  return summary;
}

}  // namespace kelvora
