#include "model/curve_predictions.hpp"

#include <algorithm>
#include <cmath>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "model/single_ligand.hpp"

namespace kelvora {

namespace {

constexpr double absent = 1e-30;  // a total at or below this is no ligand

// Points are predicted and summed a block at a time, in buffers on the stack.
constexpr int block = 128;

// The labelled ligand's bound concentration Yhat(j) at points first..end-1
// into predicted[j - first], as calculate_binding_unified gives it; at most
// `block` points.
//
// When the labelled ligand is alone, the general solver would solve each
// point as the one-ligand problem of that ligand (T > 1e-30) or give 0; its
// constants are the same at every point, and so is the test that they lie in
// the convergence domain (the total, above 1e-30, always passes its part).
// Here they are set up once. With one site and B = 1 the closed form is
// computed for all points in a loop without branches (the compiler keeps
// two points per vector register), and the rare root outside (0, T] is
// solved again by the iteration afterwards. Outside the domain, and for
// every other curve, each point goes to the solver calculate_binding_unified
// would choose for the curve.
void predict_block(const Curve_data& curve, const Fit_parameters& params, const Curve_plan& plan,
                   const Binding_constants& k, double C, int first, int end, double* predicted) {
  const int h = curve.labelled_ligand - 1;
  const std::array<double, max_ligands>* total = curve.total.data() + first;
  const int n = end - first;
  if (plan.labelled_alone) {
    const double no_background[max_sites] = {};
    detail::Single_ligand p = detail::single_problem(params.n_sites, h, 1.0, k, C, no_background);
    if (detail::in_domain(p)) {
      if (p.n_sites == 1 && p.cooperativity[0] == 1.0) {
        const detail::One_site_closed_form closed_form(p);
        double t[block];
        double free[block];
        for (int i = 0; i < n; ++i) t[i] = total[i][h];
        for (int i = 0; i < n; ++i) {
          double bound;
          closed_form.free_and_bound(t[i], free[i], bound);
          const double capped = std::min(bound, t[i]);
          predicted[i] = t[i] > absent ? capped : 0.0;
        }
        for (int i = 0; i < n; ++i) {
          if (t[i] > absent && !closed_form.root_in_bracket(t[i], free[i])) {
            p.total = t[i];
            predicted[i] = std::min(detail::solve_single_iterative(p).bound, t[i]);
          }
        }
      } else {
        for (int i = 0; i < n; ++i) {
          const double t = total[i][h];
          predicted[i] = 0.0;
          if (t > absent) {
            p.total = t;
            predicted[i] = std::min(detail::solve_single(p).bound, t);
          }
        }
      }
      return;
    }
  }
  Point_binding point;
  if (plan.competition) {
    for (int i = 0; i < n; ++i) {
      calculate_bound_competition_multisite(total[i].data(), k, C, curve.varying_ligand,
                                            curve.labelled_ligand, params.n_sites, point);
      predicted[i] = point.bound[h];
    }
  } else {
    for (int i = 0; i < n; ++i) {
      calculate_bound_ligand_general(params.n_ligands, params.n_sites, total[i].data(), k, C,
                                     point);
      predicted[i] = point.bound[h];
    }
  }
}

}  // namespace

double variance_log_slope(double predicted, const std::array<double, n_weight_coefs>& a) {
  const double y = predicted;
  double v = a[0] + a[1] * y + a[2] * y * y;
  double slope = a[1] + 2.0 * a[2] * y;
  if (a[3] != 0.0) {
    const double magnitude = std::abs(y);
    v += a[3] * (a[4] == 2.0 ? y * y : std::pow(magnitude, a[4]));
    // d|y|^p/dy = p |y|^(p-1) sign(y), taken as 0 at y = 0.
    if (y != 0.0) slope += a[3] * a[4] * std::pow(magnitude, a[4] - 1.0) * (y > 0.0 ? 1.0 : -1.0);
  }
  if (!(v >= 1e-30)) return 0.0;  // the floored weight does not change with y
  return slope / v;
}

Curve_plan plan_curve(const Curve_data& curve, const Fit_parameters& params) {
  Curve_plan plan;
  plan.competition = is_competition_assay(curve, params);
  const int h = curve.labelled_ligand - 1;
  if (plan.competition || h < 0 || h >= params.n_ligands) return plan;
  plan.labelled_alone = true;
  for (int j = 0; j < curve.n_points && plan.labelled_alone; ++j)
    for (int l = 0; l < params.n_ligands; ++l)
      if (l != h && curve.total[j][l] > absent) plan.labelled_alone = false;
  return plan;
}

void predict_points(const Curve_data& curve, const Fit_parameters& params, const Curve_plan& plan,
                    const Binding_constants& k, double C, int first, int count, double* predicted) {
  for (int start = first; start < first + count; start += block) {
    const int end = std::min(start + block, first + count);
    predict_block(curve, params, plan, k, C, start, end, predicted + (start - first));
  }
}

double curve_sum_of_squares(const Curve_data& curve, const Fit_parameters& params,
                            const Curve_plan& plan, const Binding_constants& k, double C) {
  // A block's predictions, then its weights, then the sum in point order:
  // the first two are loops whose points do not wait on each other.
  const std::array<double, n_weight_coefs> a = curve.weight_coef;
  const bool power = a[3] != 0.0;
  double predicted[block];
  double weight[block];
  double sum = 0.0;
  for (int first = 0; first < curve.n_points; first += block) {
    const int n = std::min(block, curve.n_points - first);
    const double* measured = curve.bound.data() + first;
    const double* replicates = curve.replicates.data() + first;
    predict_block(curve, params, plan, k, C, first, first + n, predicted);
    if (power) {
      for (int i = 0; i < n; ++i) weight[i] = compute_weight(predicted[i], a, replicates[i]);
    } else {
      for (int i = 0; i < n; ++i)
        weight[i] = detail::weight_of(detail::quadratic_variance(predicted[i], a), replicates[i]);
    }
    for (int i = 0; i < n; ++i) {
      const double residual = measured[i] - predicted[i];
      sum += residual * residual * weight[i];
    }
  }
  return sum;
}

std::vector<Curve_prediction> predict_curves(const Curve_table& curves,
                                             const Fit_parameters& params) {
  std::vector<Curve_prediction> fitted(params.n_curves);
  const Binding_constants k = binding_constants(params);
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    Curve_prediction& out = fitted[c];
    const double C = params.value[c_slot(params, c + 1)];
    out.predicted.resize(curve.n_points);
    predict_points(curve, params, plan_curve(curve, params), k, C, 0, curve.n_points,
                   out.predicted.data());
    out.residual.resize(curve.n_points);
    out.weight.resize(curve.n_points);
    for (int j = 0; j < curve.n_points; ++j) {
      out.residual[j] = curve.bound[j] - out.predicted[j];
      out.weight[j] = compute_weight(out.predicted[j], curve.weight_coef, curve.replicates[j]);
    }
  }
  return fitted;
}

}  // namespace kelvora
