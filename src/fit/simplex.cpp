// Nelder-Mead simplex on the variable parameters (see minimisers.hpp).
// Vertices are stored as generated: the repairs the objective makes to the
// parameter vector (absolute values, bounds, affinity order) do not change
// them.

#include <cmath>

#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {

namespace {

constexpr double expansion = 1.75;
constexpr double contraction = 0.6;
constexpr double shrinkage = 0.6;

struct Point {
  double x[max_var];
};

double evaluate_at(Curve_table& curves, Fit_parameters& params, Optimization_data& opt,
                   const Point& point) {
  load_variables(params, point.x);
  evaluate_model(curves, params, opt);
  return opt.ss;
}

// c + factor (toward - c)
Point along(const Point& c, const Point& toward, double factor, int m) {
  Point p;
  for (int i = 0; i < m; ++i) p.x[i] = c.x[i] + factor * (toward.x[i] - c.x[i]);
  return p;
}

}  // namespace

Simplex_ranking rank_simplex(const double* f, int n_vertices) {
  Simplex_ranking r;
  if (n_vertices < 2) return r;
  // Strict comparisons keep the lower vertex on ties.
  for (int v = 1; v < n_vertices; ++v) {
    if (f[v] < f[r.best]) r.best = v;
    if (f[v] > f[r.worst]) r.worst = v;
  }
  r.second = r.worst == 0 ? 1 : 0;
  for (int v = r.second + 1; v < n_vertices; ++v)
    if (v != r.worst && f[v] > f[r.second]) r.second = v;
  return r;
}

Simplex_summary nelder_mead_simplex(Curve_table& curves, Fit_parameters& params,
                                    Optimization_data& opt, int max_iter) {
  Simplex_summary summary;
  const long long evaluations_at_entry = opt.n_evaluations;
  const int m = params.n_var;
  const double ss_entry = opt.ss;
  update_parameters(params, opt);
  if (m == 0) {
    evaluate_model(curves, params, opt);
    if (ss_entry < opt.ss) opt.ss = ss_entry;
    summary.evaluations = opt.n_evaluations - evaluations_at_entry;
    return summary;
  }

  Point vertex[max_var + 1];
  double f[max_var + 1];
  read_variables(params, vertex[0].x);
  for (int k = 0; k < m; ++k) {
    vertex[k + 1] = vertex[0];
    double& x = vertex[k + 1].x[k];
    switch (parameter_kind(params, params.var_map[k])) {
      case 'K':
      case 'R':
        x *= 2.0;
        break;
      case 'N':
        x = std::min(x + 0.05, 0.45);
        break;
      default:
        x *= 1.5;
        break;
    }
    if (std::abs(x) < 1e-12) x = 1e-12;
  }
  for (int v = 0; v <= m; ++v) f[v] = evaluate_at(curves, params, opt, vertex[v]);

  for (int iteration = 1; iteration <= max_iter; ++iteration) {
    summary.iterations = iteration;
    const auto [best, worst, second] = rank_simplex(f, m + 1);
    // "<=" rather than "<": at an exact fit f(best) = 0, and only an all-zero
    // simplex, whose spread is 0, can then meet the relative test.
    if (iteration >= 10 && std::abs(f[worst] - f[best]) <= 1e-6 * std::abs(f[best])) {
      summary.converged = true;
      break;
    }

    Point centroid;
    for (int i = 0; i < m; ++i) {
      double sum = 0.0;
      for (int v = 0; v <= m; ++v)
        if (v != worst) sum += vertex[v].x[i];
      centroid.x[i] = sum / m;
    }
    const Point reflected = along(centroid, vertex[worst], -1.0, m);
    const double f_reflected = evaluate_at(curves, params, opt, reflected);

    if (f_reflected < f[best]) {
      const Point expanded = along(centroid, reflected, expansion, m);
      const double f_expanded = evaluate_at(curves, params, opt, expanded);
      if (f_expanded < f_reflected) {
        vertex[worst] = expanded;
        f[worst] = f_expanded;
      } else {
        vertex[worst] = reflected;
        f[worst] = f_reflected;
      }
    } else if (f_reflected < f[second]) {
      vertex[worst] = reflected;
      f[worst] = f_reflected;
    } else {
      const Point contracted = f_reflected < f[worst]
                                   ? along(centroid, reflected, contraction, m)
                                   : along(centroid, vertex[worst], contraction, m);
      const double f_contracted = evaluate_at(curves, params, opt, contracted);
      if (f_contracted < std::min(f[worst], f_reflected)) {
        vertex[worst] = contracted;
        f[worst] = f_contracted;
      } else {
        for (int v = 0; v <= m; ++v) {
          if (v == best) continue;
          vertex[v] = along(vertex[best], vertex[v], shrinkage, m);
          f[v] = evaluate_at(curves, params, opt, vertex[v]);
        }
      }
    }
    for (int v = 0; v <= m; ++v) f[v] = std::abs(f[v]);
  }

  int best = 0;
  for (int v = 1; v <= m; ++v)
    if (f[v] < f[best]) best = v;
  load_variables(params, vertex[best].x);
  update_parameters(params, opt);
  evaluate_model(curves, params, opt);
  opt.ss = std::min(f[best], ss_entry);
  summary.evaluations = opt.n_evaluations - evaluations_at_entry;
  return summary;
}

}  // namespace kelvora
