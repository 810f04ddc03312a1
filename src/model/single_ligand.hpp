#pragma once
// One ligand's conservation equation with every other ligand held fixed:
//   g(F) = T - F (1 + CN + sum_s K(s) Q(s)),  A(s) = A0(s) + K(s) F,
// where A0(s) is the occupancy of site s by the other ligands. For
// non-negative constants g falls strictly from g(0) = T to g(T) <= 0, so the
// root is bracketed by (0, T] and a Newton iteration safeguarded by that
// bracket always converges.

#include <cmath>
#include <limits>

#include "data/records.hpp"

namespace kelvora::detail {

// Site term Q(A) = CR (1 + B A) / D, D = max(1e-30, 1 + 2A + B A^2), and its
// derivative dQ/dA = CR (B/D - 2 ((1 + B A)/D)^2).
struct Site_term {
  double q;
  double dq;
};

inline Site_term site_term(double capacity, double cooperativity, double occupancy) {
  const double numerator = 1.0 + cooperativity * occupancy;
  double denominator = 1.0 + occupancy * (2.0 + cooperativity * occupancy);
  if (!(denominator > 1e-30)) denominator = 1e-30;
  const double inverse = 1.0 / denominator;
  const double ratio = numerator * inverse;
  return {capacity * ratio, capacity * (cooperativity * inverse - 2.0 * ratio * ratio)};
}

// Only the first n_sites entries of the site arrays are used (and need be set).
struct Single_ligand {
  int n_sites;
  double total;        // T
  double nonspecific;  // C N
  double affinity[max_sites];
  double capacity[max_sites];  // C R(s)
  double cooperativity[max_sites];
  double background[max_sites];  // A0(s)
};

inline bool finite_non_negative(double x) {
  return x >= 0.0 && x <= std::numeric_limits<double>::max();
}

// True when every constant is finite and non-negative (the domain in which
// the solvers guarantee convergence).
inline bool in_domain(const Single_ligand& p) {
  // Every constant finite and non-negative (a NaN fails every comparison);
  // the tests are combined as integers, without short-circuits, to keep the
  // check free of branches.
  int ok = static_cast<int>(p.total > 0.0) & static_cast<int>(finite_non_negative(p.nonspecific));
  for (int s = 0; s < p.n_sites; ++s) {
    ok &= static_cast<int>(finite_non_negative(p.affinity[s])) &
          static_cast<int>(finite_non_negative(p.capacity[s])) &
          static_cast<int>(finite_non_negative(p.cooperativity[s])) &
          static_cast<int>(finite_non_negative(p.background[s]));
  }
  return ok != 0;
}

struct Single_solution {
  double free;
  double bound;  // F (CN + sum_s K(s) Q(s)) at that F
};

// The positive root of the one-site quadratic (K' apparent affinity, ns =
// 1 + CN, apparent = K' CR)
//   a F^2 + b F - T = 0,  a = K' ns,  b = ns + K' CR - K' T,
// in its cancellation-free form: 2T / (b + r) for b >= 0, (r - b) / (2a)
// otherwise, r = sqrt(b^2 + 4aT); a = 0 (no binding left) gives T / ns.
// Rounding enters through b alone, with an absolute error of a few eps
// (ns + K' CR + K' T); as dF/db = -F / r, the relative error of F is a few
// eps times (ns + K' CR + K' T) / r. That is below 2 away from b = 0; near
// b = 0 (T close to CR with K' T large) r >= 2 sqrt(aT) bounds it by about
// sqrt(K' T) (1e5 at K C R = 1e10), which is also the condition number of F
// with respect to T there: an iteration on the rounded residual
// T - F (1 + CN + K Q) does no better.
inline double lumped_root(double k, double apparent, double ns, double t) {
  const double a = k * ns;
  const double b = ns + apparent - k * t;
  const double root = std::sqrt(b * b + 4.0 * a * t);
  return b >= 0.0 ? 2.0 * t / (b + root) : (root - b) / (2.0 * a);
}

// The root of g(F) = 0 (T > 0, constants in domain) by Newton's method
// safeguarded by the bracket (0, T], and the bound ligand there.
Single_solution solve_single_iterative(const Single_ligand& p);

// The same, in closed form where that is exact.
inline Single_solution solve_single(const Single_ligand& p) {
  const double t = p.total;
  if (p.n_sites == 1 && p.cooperativity[0] == 1.0) {
    // One site without cooperativity: Q = CR / (1 + A0 + K F), so with
    // K' = K / (1 + A0) the equation is the quadratic of lumped_root and its
    // root is the solution itself. A root outside (0, T] can only come from
    // overflow (K' T or b^2 beyond the range of doubles); the iteration then
    // takes over.
    const double k =
        p.background[0] == 0.0 ? p.affinity[0] : p.affinity[0] / (1.0 + p.background[0]);
    const double f = lumped_root(k, k * p.capacity[0], 1.0 + p.nonspecific, t);
    if (f > 0.0 && f <= t) {
      const double q = site_term(p.capacity[0], 1.0, p.background[0] + p.affinity[0] * f).q;
      return {f, f * (p.nonspecific + p.affinity[0] * q)};
    }
  }
  return solve_single_iterative(p);
}

inline double solve_single_free(const Single_ligand& p) {
  return solve_single(p).free;
}

// Bound ligand F (CN + sum_s K(s) Q(s)) at free concentration F.
double single_bound(const Single_ligand& p, double free);

// The closed-form start of the iteration (exact for one site with B = 1).
double starting_estimate(const Single_ligand& p);

}  // namespace kelvora::detail
