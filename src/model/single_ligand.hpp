#pragma once
// One ligand's conservation equation with every other ligand held fixed:
//   g(F) = T - F (1 + CN + sum_s K(s) Q(s)),  A(s) = A0(s) + K(s) F,
// where A0(s) is the occupancy of site s by the other ligands. For
// non-negative constants g falls strictly from g(0) = T to g(T) <= 0, so the
// root is bracketed by (0, T] and a Newton iteration safeguarded by that
// bracket always converges.

#include <algorithm>
#include <cmath>
#include <limits>

#include "data/records.hpp"
#include "model/binding_model.hpp"

namespace kelvora::detail {

// Site term Q(A) = CR (1 + B A) / D, D = max(1e-30, 1 + 2A + B A^2), and its
// derivative dQ/dA = CR (B/D - 2 ((1 + B A)/D)^2).
struct Site_term {
  double q;
  double dq;
};

inline Site_term site_term(double capacity, double cooperativity, double occupancy) {
  const double numerator = 1.0 + cooperativity * occupancy;
  // std::max(1e-30, x) is (1e-30 < x ? x : 1e-30): a denominator that is
  // not a number is floored too. A selection, not a branch, so that loops
  // over many points keep it on vector registers.
  const double denominator = std::max(1e-30, 1.0 + occupancy * (2.0 + cooperativity * occupancy));
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

// The constants of ligand l (0-based) with the other ligands' occupancy of
// each site given in `background`.
inline Single_ligand single_problem(int n_sites, int l, double total, const Binding_constants& k,
                                    double C, const double* background) {
  Single_ligand p;
  p.n_sites = n_sites;
  p.total = total;
  p.nonspecific = C * k.N[l];
  // All max_sites entries (a fixed count keeps the copies inline).
  for (int s = 0; s < max_sites; ++s) {
    p.affinity[s] = k.K[l][s];
    p.capacity[s] = C * k.R[s];
    p.cooperativity[s] = k.B[s];
    p.background[s] = background[s];
  }
  return p;
}

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
//
// The coefficients that do not depend on T are formed once, so that a curve
// of many totals pays only for b, the square root and one division per
// point. The two branches differ only in the operands of that division,
// which are selected rather than branched on (the division is the same).
struct Lumped_quadratic {
  double k;          // K'
  double b_at_zero;  // ns + K' CR
  double four_a;     // 4 K' ns
  double two_a;      // 2 K' ns

  Lumped_quadratic(double affinity, double apparent, double ns)
      : k(affinity),
        b_at_zero(ns + apparent),
        four_a(4.0 * (affinity * ns)),
        two_a(2.0 * (affinity * ns)) {}

  double root(double t) const {
    const double b = b_at_zero - k * t;
    const double r = std::sqrt(b * b + four_a * t);
    const double up = 2.0 * t;  // over b + r when b >= 0
    const double down = r - b;  // over 2a otherwise
    const double sum = b + r;
    const bool positive = b >= 0.0;
    return (positive ? up : down) / (positive ? sum : two_a);
  }
};

inline double lumped_root(double k, double apparent, double ns, double t) {
  return Lumped_quadratic(k, apparent, ns).root(t);
}

// The closed form of one site without cooperativity: Q = CR / (1 + A0 + K F),
// so with K' = K / (1 + A0) the conservation equation is the quadratic of
// Lumped_quadratic and its root is the solution itself. Set up once for the
// constants of `p` (one site, B = 1), then solved at any total.
struct One_site_closed_form {
  Lumped_quadratic quadratic;
  double affinity;     // K
  double capacity;     // CR
  double nonspecific;  // CN
  double background;   // A0

  explicit One_site_closed_form(const Single_ligand& p)
      : quadratic(apparent_affinity(p), apparent_affinity(p) * p.capacity[0], 1.0 + p.nonspecific),
        affinity(p.affinity[0]),
        capacity(p.capacity[0]),
        nonspecific(p.nonspecific),
        background(p.background[0]) {}

  static double apparent_affinity(const Single_ligand& p) {
    return p.background[0] == 0.0 ? p.affinity[0] : p.affinity[0] / (1.0 + p.background[0]);
  }

  // The root at total t and the bound ligand F (CN + K Q) there, whether or
  // not the root lies in (0, t]: free of branches, so that a loop over many
  // totals runs on vector registers and tests the roots afterwards.
  void free_and_bound(double t, double& free, double& bound) const {
    free = quadratic.root(t);
    const double q = site_term(capacity, 1.0, background + affinity * free).q;
    bound = free * (nonspecific + affinity * q);
  }

  static bool root_in_bracket(double t, double free) { return free > 0.0 && free <= t; }

  // The solution at total t, or false when the root falls outside (0, t]
  // (only overflow, K' T or b^2 beyond the range of doubles, does that; the
  // iteration must then take over).
  bool solve(double t, Single_solution& out) const {
    double free, bound;
    free_and_bound(t, free, bound);
    if (!root_in_bracket(t, free)) return false;
    out = {free, bound};
    return true;
  }
};

// The root of g(F) = 0 (T > 0, constants in domain) by Newton's method
// safeguarded by the bracket (0, T], and the bound ligand there.
Single_solution solve_single_iterative(const Single_ligand& p);

// The same, in closed form where that is exact.
inline Single_solution solve_single(const Single_ligand& p) {
  if (p.n_sites == 1 && p.cooperativity[0] == 1.0) {
    Single_solution solution;
    if (One_site_closed_form(p).solve(p.total, solution)) return solution;
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
