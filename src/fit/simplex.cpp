// Nelder-Mead simplex on the variable parameters (see minimisers.hpp).
// Vertices are stored as generated: the projection the objective makes
// (absolute values, bounds, relabelling) does not change them.

#include <algorithm>
#include <cmath>

#include "fit/minimisers.hpp"

namespace kelvora {

namespace {

constexpr double expansion = 1.75;
constexpr double contraction = 0.6;
constexpr double shrinkage = 0.6;

struct Point {
  double x[max_var];
};

double evaluate_at(const Least_squares_problem& problem, Search_state& state, const Point& point) {
  std::copy(point.x, point.x + state.n, state.value.begin());
  return evaluate(problem, state);
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

Simplex_summary nelder_mead_simplex(const Least_squares_problem& problem, Search_state& state,
                                    int max_iter) {
  Simplex_summary summary;
  const long long evaluations_at_entry = state.evaluations;
  const int m = state.n;
  const double ss_entry = state.ss;
  state.accept();
  if (m == 0) {
    evaluate(problem, state);
    if (ss_entry < state.ss) state.ss = ss_entry;
    summary.evaluations = state.evaluations - evaluations_at_entry;
    return summary;
  }

  Point vertex[max_var + 1];
  double f[max_var + 1];
  std::copy(state.value.begin(), state.value.begin() + m, vertex[0].x);
  for (int k = 0; k < m; ++k) {
    vertex[k + 1] = vertex[0];
    double& x = vertex[k + 1].x[k];
    x = problem.simplex_vertex(k, x);
    if (std::abs(x) < 1e-12) x = 1e-12;
  }
  for (int v = 0; v <= m; ++v) f[v] = evaluate_at(problem, state, vertex[v]);

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
    const double f_reflected = evaluate_at(problem, state, reflected);

    if (f_reflected < f[best]) {
      const Point expanded = along(centroid, reflected, expansion, m);
      const double f_expanded = evaluate_at(problem, state, expanded);
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
      const double f_contracted = evaluate_at(problem, state, contracted);
      if (f_contracted < std::min(f[worst], f_reflected)) {
        vertex[worst] = contracted;
        f[worst] = f_contracted;
      } else {
        for (int v = 0; v <= m; ++v) {
          if (v == best) continue;
          vertex[v] = along(vertex[best], vertex[v], shrinkage, m);
          f[v] = evaluate_at(problem, state, vertex[v]);
        }
      }
    }
    for (int v = 0; v <= m; ++v) f[v] = std::abs(f[v]);
  }

  int best = 0;
  for (int v = 1; v <= m; ++v)
    if (f[v] < f[best]) best = v;
  std::copy(vertex[best].x, vertex[best].x + m, state.value.begin());
  state.accept();
  evaluate(problem, state);
  state.ss = std::min(f[best], ss_entry);
  summary.evaluations = state.evaluations - evaluations_at_entry;
  return summary;
}

}  // namespace kelvora
