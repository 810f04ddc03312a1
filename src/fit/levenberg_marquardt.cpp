// Levenberg-Marquardt refinement with numerical derivatives (see
// minimisers.hpp). With e = Y - Yhat, d = dYhat/dtheta and weights
// w = r / v(Yhat), a step delta from the accepted point solves the damped
// normal equations
//   (H + lambda I) delta = g,   H = sum w d d^T,   g = sum w (e + e^2 v'/(2 v)) d,
// in scaled form (H(i,i) -> 1 + 1e-8), so that lambda is relative to the
// curvature of each parameter. g is minus half the gradient of SS, weights'
// dependence on the prediction included, so that the iteration stops where SS
// is stationary; H is the Gauss-Newton part of its Hessian.

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "model/binding_derivatives.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"
#include "util/parallel.hpp"

namespace kelvora {

namespace {

double predicted_bound(const Curve_data& curve, const Fit_parameters& params, int point,
                       int curve_number, bool competition) {
  Point_binding result;
  calculate_binding_unified(curve, params, point, binding_constants(params),
                            params.value[c_slot(params, curve_number)], competition, result);
  return result.bound[curve.labelled_ligand - 1];
}

// Relative forward-difference step: about the square root of the rounding
// error of a prediction, so that truncation (~ h Yhat'') and rounding
// (~ 1e-16 Yhat / h) errors are both near 1e-8 of the derivative's scale.
constexpr double relative_step = 1e-7;

// The nonspecific ratio's range starts at 0; below this typical small ratio
// an N counts as zero when its difference step is chosen.
constexpr double nonspecific_step_floor = 1e-3;

// The difference step of slot p: 1e-7 of max(|value|, floor), the floor being
// the lower end of the kind's admissible range (1e-3 for N, 1 for a kind
// without range), taken downwards when the upward step would leave the range
// (so a value at its upper bound is differenced inside it). The returned step
// is the exact difference of the two representable values.
double difference_step(const Fit_parameters& params, int p) {
  const double x = params.value[p];
  const auto range = admissible_range(parameter_kind(params, p));
  double floor = 1.0;
  double upper = std::numeric_limits<double>::infinity();
  if (range) {
    floor = range->lower > 0.0 ? range->lower : nonspecific_step_floor;
    upper = range->upper;
  }
  double h = relative_step * std::max(std::abs(x), floor);
  if (x + h > upper) h = -h;
  return (x + h) - x;
}

// d(p) = (Yhat(value(p) + h) - Yhat) / h for every variable slot, 0 for the
// constant ones. A parameter without influence on the point gets 0: the
// undamped factorisation then fails and the damping of the step takes over.
void derivatives(const Curve_data& curve, Fit_parameters& params, int point, double* d,
                 int curve_number, bool competition, double base) {
  for (int p = 0; p < params.n_params; ++p) {
    d[p] = 0.0;
    if (params.is_constant[p]) continue;
    const double saved = params.value[p];
    const double h = difference_step(params, p);
    params.value[p] = saved + h;
    d[p] = (predicted_bound(curve, params, point, curve_number, competition) - base) / h;
    params.value[p] = saved;
  }
}

// The derivatives of the point model by implicit differentiation of its
// conservation equations (model/binding_derivatives.hpp), placed at the slots
// of the variable parameters (0 at the constant ones); the C entry belongs to
// the curve's own correction factor. Returns the predicted value.
double analytical_derivatives(const Curve_data& curve, const Fit_parameters& params, int point,
                              int curve_number, bool competition, const Binding_constants& k,
                              double* d) {
  Bound_derivatives bd;
  calculate_bound_derivatives(curve, params, point, k, params.value[c_slot(params, curve_number)],
                              competition, bd);
  for (int p = 0; p < params.n_params; ++p) d[p] = 0.0;
  for (int l = 1; l <= params.n_ligands; ++l) {
    for (int s = 1; s <= params.n_sites; ++s) d[k_slot(params, l, s)] = bd.dK[l - 1][s - 1];
    d[n_slot(params, l)] = bd.dN[l - 1];
  }
  for (int s = 1; s <= params.n_sites; ++s) {
    d[r_slot(params, s)] = bd.dR[s - 1];
    d[b_slot(params, s)] = bd.dB[s - 1];
  }
  d[c_slot(params, curve_number)] = bd.dC;
  for (int p = 0; p < params.n_params; ++p)
    if (params.is_constant[p]) d[p] = 0.0;
  return bd.bound;
}

}  // namespace

void calculate_derivatives2(const Curve_data& curve, Fit_parameters& params, int point, double* d,
                            int curve_number) {
  const bool competition = is_competition_assay(curve, params);
  const double base = predicted_bound(curve, params, point, curve_number, competition);
  derivatives(curve, params, point, d, curve_number, competition, base);
}

void calculate_derivatives_analytical(const Curve_data& curve, const Fit_parameters& params,
                                      int point, double* d, int curve_number) {
  analytical_derivatives(curve, params, point, curve_number, is_competition_assay(curve, params),
                         binding_constants(params), d);
}

void calculate_gradient_hessian(Curve_table& curves, Fit_parameters& params, Optimization_data& opt,
                                Derivative_kind kind) {
  const int m = params.n_var;
  const Binding_constants constants = binding_constants(params);
  // Adds the points of curve c to g and H (lower triangle). The numerical
  // derivatives change the values of `q` for a moment, so a thread works on
  // its own copy of the record.
  auto add_curve = [&](int c, Fit_parameters& q, double* g, Variable_matrix& h) {
    const Curve_data& curve = curves[c];
    const bool competition = is_competition_assay(curve, q);
    double d[max_params];
    for (int j = 0; j < curve.n_points; ++j) {
      // Residual and weight at the point the derivatives are taken at (the
      // base of the forward differences), so that g belongs to that point.
      double base;
      if (kind == Derivative_kind::analytical) {
        base = analytical_derivatives(curve, q, j, c + 1, competition, constants, d);
      } else {
        base = predicted_bound(curve, q, j, c + 1, competition);
        derivatives(curve, q, j, d, c + 1, competition, base);
      }
      const double e = curve.bound[j] - base;
      const double w = compute_weight(base, curve.weight_coef, curve.replicates[j]);
      // The weight depends on the prediction, w = r / v(Yhat), so
      //   dSS/dtheta = -2 sum w (e + e^2 v'/(2 v)) d
      // and g = sum w (e + e^2 v'/(2 v)) d is minus half the exact gradient.
      const double e_gradient = e + 0.5 * e * e * variance_log_slope(base, curve.weight_coef);
      for (int i = 0; i < m; ++i) {
        const double di = d[q.var_map[i]];
        g[i] += w * e_gradient * di;
        for (int k = 0; k <= i; ++k) h[i][k] += w * di * d[q.var_map[k]];
      }
    }
  };
  for (int i = 0; i < m; ++i) {
    opt.beta[i] = 0.0;
    for (int k = 0; k < m; ++k) opt.alpha[i][k] = 0.0;
  }
  if (params.n_curves > 1 && params.n_points >= parallel_points) {
    // Each curve's sums apart, added in curve order: the result does not
    // depend on the number of threads.
    struct Curve_sums {
      double g[max_var] = {};
      Variable_matrix h{};
    };
    std::vector<Curve_sums> sums(params.n_curves);
    parallel_for(params.n_curves, [&](int c) {
      Fit_parameters q = params;
      add_curve(c, q, sums[c].g, sums[c].h);
    });
    for (const Curve_sums& curve : sums) {
      for (int i = 0; i < m; ++i) {
        opt.beta[i] += curve.g[i];
        for (int k = 0; k <= i; ++k) opt.alpha[i][k] += curve.h[i][k];
      }
    }
  } else {
    for (int c = 0; c < params.n_curves; ++c) add_curve(c, params, opt.beta.data(), opt.alpha);
  }
  for (int i = 0; i < m; ++i) {
    const double h = opt.alpha[i][i];
    opt.scale[i] = h > 0.0 ? std::sqrt(h) : 1.0;
    opt.alpha[i][i] = h + 1e-8 * std::abs(h);  // relative ridge, before scaling
  }
  for (int i = 0; i < m; ++i) {
    opt.beta[i] /= opt.scale[i];
    for (int k = 0; k <= i; ++k) opt.alpha[i][k] /= opt.scale[i] * opt.scale[k];
  }
}

void calculate_analytical_gradient_hessian(Curve_table& curves, Fit_parameters& params,
                                           Optimization_data& opt) {
  calculate_gradient_hessian(curves, params, opt, Derivative_kind::analytical);
}

bool cholesky_decomp(int m, Variable_matrix& a, double& det) {
  det = 1.0;
  for (int j = 0; j < m; ++j) {
    for (int i = j; i < m; ++i) {
      double v = a[i][j];
      for (int k = 0; k < j; ++k) v -= a[i][k] * a[j][k];
      if (i == j) {
        det *= v;
        if (!(v > 0.0)) {
          det = 1e-4;
          return false;
        }
        a[j][j] = std::sqrt(v);
      } else {
        a[i][j] = v / a[j][j];
      }
    }
  }
  return true;
}

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

// The repairs of a step that leaves a parameter's admissible range, by kind:
// a new value of exactly 0 becomes `at_zero` (when given); one below `lower`
// becomes `below` times the accepted value, or `below_value` when that is
// given; one above `upper` becomes `above`.
struct Repair {
  char kind;
  double at_zero;  // NaN: no rule for 0
  double lower;
  double below;        // factor of the accepted value
  double below_value;  // NaN: use the factor
  double upper;
  double above;
};

constexpr double none = std::numeric_limits<double>::quiet_NaN();
constexpr double unbounded = std::numeric_limits<double>::infinity();
constexpr Repair repairs[] = {
    {'B', 1.0, 0.25, 1.1, none, unbounded, 0.0}, {'C', 1.0, 0.1, 1.1, none, unbounded, 0.0},
    {'K', 1e9, 0.0, 0.1, none, unbounded, 0.0},  {'N', none, 0.0, 0.0, 1e-6, 0.5, 0.25},
    {'R', 1e-9, 0.0, 0.1, none, unbounded, 0.0},
};

bool apply_corrections(Fit_parameters& params, const Optimization_data& opt) {
  bool ok = true;
  for (int i = 0; i < params.n_var; ++i) {
    const int p = params.var_map[i];
    const double accepted = params.accepted[p];
    const double updated = accepted + opt.delta[i];
    double& v = params.value[p];
    v = updated;
    const char kind = parameter_kind(params, p);
    for (const Repair& r : repairs) {
      if (r.kind != kind) continue;
      if (updated == 0.0 && !std::isnan(r.at_zero)) {
        v = r.at_zero;
      } else if (updated < r.lower) {
        v = std::isnan(r.below_value) ? r.below * accepted : r.below_value;
      } else if (updated > r.upper) {
        v = r.above;
      } else {
        continue;
      }
      ok = false;
    }
  }
  for (int i = 0; i < params.n_var; ++i) {
    double& v = params.value[params.var_map[i]];
    if (v >= 1e30) {
      v = 1e30;
      ok = false;
    }
  }
  return ok;
}

bool levenberg_marquardt_step(Fit_parameters& params, Optimization_data& opt) {
  const int m = params.n_var;
  if (opt.lm_mode == 1 && opt.lambda == 0.0) opt.lambda = first_damping;
  // Variables whose step would leave their admissible range are held at the
  // bound they cross, and the step of the others solves the damped system
  // with those moves given:
  //   (H + lambda I)_ff x_f = g_f - H_fb x_b.
  // A minimum on a bound (a nonspecific ratio of 0, a vanishing second site,
  // a correction factor at its limit) is thus approached like any other,
  // where a step that crossed the bound would only be repaired and refused.
  bool held[max_var] = {};
  double x[max_var] = {};  // scaled step
  for (int round = 0; round <= m; ++round) {
    int free[max_var];
    int n_free = 0;
    double rhs[max_var] = {};  // entries past n_free are never read
    for (int i = 0; i < m; ++i) {
      if (held[i]) continue;
      double r = opt.beta[i];
      for (int k = 0; k < m; ++k)
        if (held[k]) r -= (k < i ? opt.alpha[i][k] : opt.alpha[k][i]) * x[k];
      rhs[n_free] = r;
      free[n_free++] = i;
    }
    for (int a = 0; a < n_free; ++a) {
      for (int b = 0; b <= a; ++b) opt.work[a][b] = opt.alpha[free[a]][free[b]];
      if (opt.lambda > 0.0) opt.work[a][a] += opt.lambda;
    }
    double det = 1.0;
    if (n_free > 0 && !cholesky_decomp(n_free, opt.work, det)) return false;
    opt.lambda_start = det;
    double x_free[max_var];
    solve_linear_sys(n_free, opt.work, rhs, x_free);
    for (int a = 0; a < n_free; ++a) x[free[a]] = x_free[a];
    bool newly_held = false;
    for (int i = 0; i < m; ++i) {
      if (held[i]) continue;
      const int p = params.var_map[i];
      const auto range = admissible_range(parameter_kind(params, p));
      const double updated = params.accepted[p] + x[i] / opt.scale[i];
      if (!range || !(updated < range->lower || updated > range->upper)) continue;
      const double bound = updated < range->lower ? range->lower : range->upper;
      // Only a value inside the range is held at its bound (one outside it
      // is left to the repairs).
      if (!(params.accepted[p] >= range->lower && params.accepted[p] <= range->upper)) continue;
      held[i] = newly_held = true;
      x[i] = (bound - params.accepted[p]) * opt.scale[i];
    }
    if (!newly_held) break;
  }
  for (int i = 0; i < m; ++i) opt.delta[i] = x[i] / opt.scale[i];
  return apply_corrections(params, opt);
}

void finish_at_accepted(Curve_table& curves, Fit_parameters& params, Optimization_data& opt,
                        bool at_accepted) {
  restore_accepted(params);
  if (!at_accepted) evaluate_model(curves, params, opt);
}

bool raise_damping_after_failure(Optimization_data& opt) {
  if (opt.lambda != 0.0) {
    opt.lambda *= 10.0;
  } else {
    // Should no positive determinant be known (none factorised yet, or an
    // underflow), damping starts where a first damped iteration does.
    opt.lambda = opt.lambda_start > 0.0 ? opt.lambda_start : first_damping;
  }
  return opt.lambda <= damping_limit;
}

bool raise_damping_after_rejection(Optimization_data& opt) {
  // An undamped step that failed would only be taken again from the same
  // point, so damping starts at the value of a first damped iteration.
  opt.lambda = opt.lambda != 0.0 ? 10.0 * opt.lambda : first_damping;
  return opt.lambda <= damping_limit;
}

Lm_summary optimize_fit_simple(Curve_table& curves, Fit_parameters& params, Optimization_data& opt,
                               int max_iter) {
  Lm_summary summary;
  const long long evaluations_at_entry = opt.n_evaluations;
  opt.lambda = 0.0;
  evaluate_model(curves, params, opt);
  opt.ss_prev = opt.ss;
  // Whether opt.ss and the residuals belong to the accepted point.
  bool at_accepted = true;
  for (int iteration = 1; iteration <= max_iter; ++iteration) {
    summary.iterations = iteration;
    restore_accepted(params);
    calculate_gradient_hessian(curves, params, opt);
    bool go_on = true;
    if (levenberg_marquardt_step(params, opt)) {
      evaluate_model(curves, params, opt);
      if (opt.ss < opt.ss_prev) {
        update_parameters(params, opt);
        at_accepted = true;
        // (ss_prev - ss) / ss_prev < 1e-6 after ten iterations: converged.
        if (iteration > 10 && (opt.ss_prev - opt.ss) / opt.ss_prev < 1e-6) {
          summary.stop = Lm_summary::Stop::small_gain;
          break;
        }
        opt.ss_prev = opt.ss;
        opt.lambda = std::max(opt.lambda / 10.0, 0.0);
      } else {
        go_on = raise_damping_after_rejection(opt);
        restore_accepted(params);
        at_accepted = false;
      }
    } else {
      go_on = raise_damping_after_failure(opt);
    }
    if (!go_on) {
      summary.stop = Lm_summary::Stop::damping_limit;
      break;
    }
  }
  // Hand the best point on, not a rejected or repaired trial.
  bool trial_left = false;
  for (int i = 0; i < params.n_var; ++i)
    trial_left =
        trial_left || params.value[params.var_map[i]] != params.accepted[params.var_map[i]];
  finish_at_accepted(curves, params, opt, at_accepted && !trial_left);
  summary.evaluations = opt.n_evaluations - evaluations_at_entry;
  return summary;
}

}  // namespace kelvora
