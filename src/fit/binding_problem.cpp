#include "fit/binding_problem.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <vector>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_derivatives.hpp"
#include "model/binding_model.hpp"
#include "model/curve_predictions.hpp"
#include "params/parameter_vector.hpp"
#include "util/parallel.hpp"

namespace kelvora {

namespace {

// Relative forward-difference step: about the square root of the rounding
// error of a prediction, so that truncation (~ h Yhat'') and rounding
// (~ 1e-16 Yhat / h) errors are both near 1e-8 of the derivative's scale.
constexpr double relative_step = 1e-7;

// The nonspecific ratio's range starts at 0; below this typical small ratio
// an N counts as zero when its difference step is chosen.
constexpr double nonspecific_step_floor = 1e-3;

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

}  // namespace

Binding_problem::Binding_problem(const Curve_table& curves, const Fit_parameters& params)
    : curves_(curves), layout_(params), n_(params.n_var) {
  // Constants are never negative (the dialogues refuse it); should one be,
  // the model sees its magnitude, as it sees a reflected variable's.
  for (int p = 0; p < max_params; ++p) constants_[p] = std::abs(params.value[p]);
  for (int i = 0; i < n_; ++i) {
    kind_[i] = parameter_kind(params, params.var_map[i]);
    range_[i] = admissible_range(kind_[i]);
  }
  for (int c = 0; c < params.n_curves; ++c) plans_[c] = plan_curve(curves[c], params);

  // Only a relabelling of the two site classes leaves the model unchanged,
  // so with two ligands at two sites of saturation curves the sites
  // exchange all their parameters when site 2 binds ligand 1 more strongly.
  // A constant parameter keeps its value: the exchange applies only when
  // each pair is fitted, or constant at one value (then it stays in place).
  const Fit_parameters& p = params;
  if (p.n_curves < 1 || plans_[0].competition || p.n_ligands != 2 || p.n_sites != 2) return;
  const int pairs[4][2] = {{k_slot(p, 1, 1), k_slot(p, 1, 2)},
                           {k_slot(p, 2, 1), k_slot(p, 2, 2)},
                           {r_slot(p, 1), r_slot(p, 2)},
                           {b_slot(p, 1), b_slot(p, 2)}};
  int fitted = 0;
  int exchange[4][2];
  for (const auto& pair : pairs) {
    const bool constant_1 = p.is_constant[pair[0]];
    const bool constant_2 = p.is_constant[pair[1]];
    if (!constant_1 && !constant_2) {
      exchange[fitted][0] = p.var_of_param[pair[0]];
      exchange[fitted][1] = p.var_of_param[pair[1]];
      ++fitted;
    } else if (!(constant_1 && constant_2 && p.value[pair[0]] == p.value[pair[1]])) {
      return;
    }
  }
  // Ligand 1's affinities decide; when they are constant (and equal) site 2
  // never binds it more strongly.
  if (p.is_constant[pairs[0][0]]) return;
  exchanged_pairs_ = fitted;
  std::copy(&exchange[0][0], &exchange[0][0] + 8, &exchange_[0][0]);
}

Binding_problem::Slot_values Binding_problem::values_at(std::span<const double> x) const {
  Slot_values v = constants_;
  for (int i = 0; i < n_; ++i) v[layout_.var_map[i]] = x[i];
  return v;
}

Fit_parameters Binding_problem::record_at(std::span<const double> x) const {
  Fit_parameters p = layout_;
  for (int i = 0; i < n_; ++i) p.value[p.var_map[i]] = x[i];
  return p;
}

Search_state search_state_of(const Fit_parameters& params) {
  Search_state s;
  s.n = params.n_var;
  for (int i = 0; i < s.n; ++i) {
    s.value[i] = params.value[params.var_map[i]];
    s.accepted[i] = params.accepted[params.var_map[i]];
  }
  return s;
}

void store_search_state(const Search_state& s, Fit_parameters& params) {
  for (int i = 0; i < s.n; ++i) {
    params.value[params.var_map[i]] = s.value[i];
    params.accepted[params.var_map[i]] = s.accepted[i];
  }
}

double sum_of_squares_at(const Curve_table& curves, const Fit_parameters& params) {
  const Search_state state = search_state_of(params);
  return Binding_problem(curves, params).sum_of_squares(state.trial());
}

void Binding_problem::residuals(std::span<const double> x, std::span<double> r) const {
  int row = 0;
  for (const Curve_prediction& curve : predict_curves(curves_, record_at(x))) {
    for (std::size_t j = 0; j < curve.residual.size(); ++j)
      r[row++] = std::sqrt(curve.weight[j]) * curve.residual[j];
  }
}

double Binding_problem::sum_of_squares(std::span<const double> x) const {
  const Slot_values v = values_at(x);
  const Binding_constants k = binding_constants(layout_, v.data());
  // Each curve's sum first, then the curves' sums in curve order, so that the
  // result is the same whether the curves are evaluated on one thread or
  // several.
  double curve_ss[max_curves];
  auto evaluate_curve = [&](int c) {
    curve_ss[c] =
        curve_sum_of_squares(curves_[c], layout_, plans_[c], k, v[c_slot(layout_, c + 1)]);
  };
  if (layout_.n_curves > 1 && layout_.n_points >= parallel_points) {
    parallel_for(layout_.n_curves, evaluate_curve);
  } else {
    for (int c = 0; c < layout_.n_curves; ++c) evaluate_curve(c);
  }
  double ss = 0.0;
  for (int c = 0; c < layout_.n_curves; ++c) ss += curve_ss[c];
  return ss;
}

void Binding_problem::normal_equations(std::span<const double> x, Derivative_kind kind,
                                       Normal_equations& ne) const {
  const int m = n_;
  const Slot_values at = values_at(x);
  const Binding_constants constants = binding_constants(layout_, at.data());
  const Fit_parameters& layout = layout_;

  // The difference step of variable i: 1e-7 of max(|value|, floor), the
  // floor being the lower end of the kind's admissible range (1e-3 for N, 1
  // for a kind without range), taken downwards when the upward step would
  // leave the range (so a value at its upper bound is differenced inside
  // it). The step is the exact difference of the two representable values.
  auto difference_step = [&](int i, double value) {
    const auto& range = range_[i];
    double floor = 1.0;
    double upper = std::numeric_limits<double>::infinity();
    if (range) {
      floor = range->lower > 0.0 ? range->lower : nonspecific_step_floor;
      upper = range->upper;
    }
    double h = relative_step * std::max(std::abs(value), floor);
    if (value + h > upper) h = -h;
    return (value + h) - value;
  };
  // The constants with variable i moved by its difference step (its C, when
  // it is a correction factor, goes with the curve it belongs to).
  double step[max_var];
  Binding_constants moved_constants[max_var];
  if (kind == Derivative_kind::numerical) {
    for (int i = 0; i < m; ++i) {
      const int p = layout.var_map[i];
      step[i] = difference_step(i, at[p]);
      Slot_values v = at;
      v[p] = at[p] + step[i];
      moved_constants[i] = binding_constants(layout, v.data());
    }
  }

  // Adds the points of curve c to g and H (lower triangle), a block of
  // points at a time: the predictions of the block at x and at each moved
  // variable, then the sums point by point. d[i] holds the derivatives of
  // the predictions by variable i.
  auto add_curve = [&](int c, double* g, Variable_matrix& h) {
    constexpr int block = 64;
    const Curve_data& curve = curves_[c];
    const Curve_plan& plan = plans_[c];
    const int own_c = c_slot(layout, c + 1);
    double base[block];
    double moved[block];
    double d[max_var][block];
    for (int first = 0; first < curve.n_points; first += block) {
      const int count = std::min(block, curve.n_points - first);
      if (kind == Derivative_kind::analytical) {
        for (int jj = 0; jj < count; ++jj) {
          Bound_derivatives bd;
          calculate_bound_derivatives(curve, layout, first + jj, constants, at[own_c],
                                      plan.competition, bd);
          double by_slot[max_params] = {};
          for (int l = 1; l <= layout.n_ligands; ++l) {
            for (int s = 1; s <= layout.n_sites; ++s)
              by_slot[k_slot(layout, l, s)] = bd.dK[l - 1][s - 1];
            by_slot[n_slot(layout, l)] = bd.dN[l - 1];
          }
          for (int s = 1; s <= layout.n_sites; ++s) {
            by_slot[r_slot(layout, s)] = bd.dR[s - 1];
            by_slot[b_slot(layout, s)] = bd.dB[s - 1];
          }
          // The C entry belongs to the curve's own correction factor.
          by_slot[own_c] = bd.dC;
          for (int i = 0; i < m; ++i) d[i][jj] = by_slot[layout.var_map[i]];
          base[jj] = bd.bound;
        }
      } else {
        predict_points(curve, layout, plan, constants, at[own_c], first, count, base);
        // A parameter without influence on the point gets 0: the undamped
        // factorisation then fails and the damping of the step takes over.
        for (int i = 0; i < m; ++i) {
          const int p = layout.var_map[i];
          const bool other_curve = kind_[i] == 'C' && p != own_c;
          if (other_curve) {
            // Another curve's correction factor: the moved predictions are
            // those at x, so the quotient is 0 (NaN where the prediction is
            // not finite, as the difference of two evaluations gave it).
            for (int jj = 0; jj < count; ++jj) d[i][jj] = (base[jj] - base[jj]) / step[i];
            continue;
          }
          const double C = p == own_c ? at[p] + step[i] : at[own_c];
          predict_points(curve, layout, plan, moved_constants[i], C, first, count, moved);
          for (int jj = 0; jj < count; ++jj) d[i][jj] = (moved[jj] - base[jj]) / step[i];
        }
      }
      for (int jj = 0; jj < count; ++jj) {
        // Residual and weight at the point the derivatives are taken at (the
        // base of the forward differences), so that g belongs to that point.
        const int j = first + jj;
        const double e = curve.bound[j] - base[jj];
        const double w = compute_weight(base[jj], curve.weight_coef, curve.replicates[j]);
        // The weight depends on the prediction, w = r / v(Yhat), so
        //   dSS/dtheta = -2 sum w (e + e^2 v'/(2 v)) d
        // and g = sum w (e + e^2 v'/(2 v)) d is minus half the exact gradient.
        const double e_gradient = e + 0.5 * e * e * variance_log_slope(base[jj], curve.weight_coef);
        for (int i = 0; i < m; ++i) {
          g[i] += w * e_gradient * d[i][jj];
          for (int k = 0; k <= i; ++k) h[i][k] += w * d[i][jj] * d[k][jj];
        }
      }
    }
  };
  for (int i = 0; i < m; ++i) {
    ne.g[i] = 0.0;
    for (int k = 0; k < m; ++k) ne.h[i][k] = 0.0;
  }
  if (layout.n_curves > 1 && layout.n_points >= parallel_points) {
    // Each curve's sums apart, added in curve order: the result does not
    // depend on the number of threads.
    struct Curve_sums {
      double g[max_var] = {};
      Variable_matrix h{};
    };
    std::vector<Curve_sums> sums(layout.n_curves);
    parallel_for(layout.n_curves, [&](int c) { add_curve(c, sums[c].g, sums[c].h); });
    for (const Curve_sums& curve : sums) {
      for (int i = 0; i < m; ++i) {
        ne.g[i] += curve.g[i];
        for (int k = 0; k <= i; ++k) ne.h[i][k] += curve.h[i][k];
      }
    }
  } else {
    for (int c = 0; c < layout.n_curves; ++c) add_curve(c, ne.g.data(), ne.h);
  }
}

std::optional<Admissible_range> Binding_problem::range(int i) const {
  return range_[i];
}

bool Binding_problem::project(std::span<double> x) const {
  // Negative values are reflected; the trial then scores a penalty, so that
  // a minimiser cannot find a low sum outside the admissible region that the
  // reported (repaired) parameters do not have.
  bool negative = false;
  for (int i = 0; i < n_; ++i) negative |= x[i] < 0.0;
  if (negative)
    for (int i = 0; i < n_; ++i) x[i] = std::abs(x[i]);
  for (int i = 0; i < n_; ++i) {
    if (const auto& r = range_[i]) x[i] = std::clamp(x[i], r->lower, r->upper);
  }
  return negative;
}

void Binding_problem::relabel(std::span<double> x, std::span<double> accepted) const {
  if (exchanged_pairs_ == 0) return;
  // exchange_[0] is ligand 1's pair (K11, K12).
  if (!(x[exchange_[0][1]] > x[exchange_[0][0]])) return;
  for (int k = 0; k < exchanged_pairs_; ++k) {
    std::swap(x[exchange_[k][0]], x[exchange_[k][1]]);
    std::swap(accepted[exchange_[k][0]], accepted[exchange_[k][1]]);
  }
}

std::optional<double> Binding_problem::repair_step(int i, double accepted, double updated) const {
  for (const Repair& r : repairs) {
    if (r.kind != kind_[i]) continue;
    if (updated == 0.0 && !std::isnan(r.at_zero)) return r.at_zero;
    if (updated < r.lower) return std::isnan(r.below_value) ? r.below * accepted : r.below_value;
    if (updated > r.upper) return r.above;
  }
  return std::nullopt;
}

double Binding_problem::simplex_vertex(int i, double x) const {
  switch (kind_[i]) {
    case 'K':
    case 'R':
      return 2.0 * x;
    case 'N':
      return std::min(x + 0.05, 0.45);
    default:
      return 1.5 * x;
  }
}

}  // namespace kelvora
