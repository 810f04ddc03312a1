#include "fit/least_squares.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <vector>

namespace kelvora {

double Least_squares_problem::sum_of_squares(std::span<const double> x) const {
  std::vector<double> r(n_residuals());
  residuals(x, r);
  double ss = 0.0;
  for (const double v : r) ss += v * v;
  return ss;
}

void Least_squares_problem::jacobian(std::span<const double> x, std::span<double> jac) const {
  const int n = n_variables();
  const int m = n_residuals();
  std::vector<double> base(m), moved(m), at(x.begin(), x.end());
  residuals(x, base);
  for (int i = 0; i < n; ++i) {
    const double saved = at[i];
    at[i] = saved + 1e-7 * std::max(std::abs(saved), 1.0);
    const double h = at[i] - saved;
    residuals(at, moved);
    at[i] = saved;
    for (int j = 0; j < m; ++j) jac[j * n + i] = (moved[j] - base[j]) / h;
  }
}

void Least_squares_problem::normal_equations(std::span<const double> x, Derivative_kind,
                                             Normal_equations& ne) const {
  const int n = n_variables();
  const int m = n_residuals();
  std::vector<double> r(m), jac(static_cast<std::size_t>(m) * n);
  residuals(x, r);
  jacobian(x, jac);
  for (int i = 0; i < n; ++i) {
    ne.g[i] = 0.0;
    for (int k = 0; k <= i; ++k) ne.h[i][k] = 0.0;
  }
  // r = sqrt(w) (y - f): dr/dx = -J_f, so -1/2 grad SS = -J_r^T r.
  for (int j = 0; j < m; ++j) {
    const double* row = &jac[static_cast<std::size_t>(j) * n];
    for (int i = 0; i < n; ++i) {
      ne.g[i] -= row[i] * r[j];
      for (int k = 0; k <= i; ++k) ne.h[i][k] += row[i] * row[k];
    }
  }
}

std::uint64_t Least_squares_problem::new_identity() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}

double evaluate(const Least_squares_problem& problem, Search_state& s) {
  const bool reflected = problem.project(s.trial());
  Known_sum& known = s.known;
  const bool met =
      known.problem == problem.identity() &&
      std::equal(s.value.begin(), s.value.begin() + s.n, known.point.begin(),
                 [](double a, double b) {
                   return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
                 });
  if (!met) {
    known.problem = problem.identity();
    std::copy_n(s.value.begin(), s.n, known.point.begin());
    known.ss = problem.sum_of_squares(s.trial());
    ++s.evaluations;
  }
  const double ss = known.ss;
  s.ss = reflected ? ss + 1.0e6 * ss : ss;
  problem.relabel(s.trial(), {s.accepted.data(), static_cast<std::size_t>(s.n)});
  return s.ss;
}

void scale_normal_equations(int n, Normal_equations& ne) {
  for (int i = 0; i < n; ++i) {
    const double h = ne.h[i][i];
    ne.scale[i] = h > 0.0 ? std::sqrt(h) : 1.0;
    ne.h[i][i] = h + 1e-8 * std::abs(h);  // relative ridge, before scaling
  }
  for (int i = 0; i < n; ++i) {
    ne.g[i] /= ne.scale[i];
    for (int k = 0; k <= i; ++k) ne.h[i][k] /= ne.scale[i] * ne.scale[k];
  }
}

}  // namespace kelvora
