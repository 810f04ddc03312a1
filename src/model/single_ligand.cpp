#include "model/single_ligand.hpp"

#include <cmath>
#include <limits>

namespace kelvora::detail {

namespace {

constexpr double epsilon = std::numeric_limits<double>::epsilon();

struct Residual {
  double g;               // T - F S(F)
  double dg;              // dg/dF
  double bound_per_free;  // S(F) - 1
};

Residual residual(const Single_ligand& p, double f) {
  double bound_per_free = p.nonspecific;  // S(F) - 1
  double curvature = 0.0;                 // sum K^2 dQ/dA
  for (int s = 0; s < p.n_sites; ++s) {
    const double k = p.affinity[s];
    const Site_term term = site_term(p.capacity[s], p.cooperativity[s], p.background[s] + k * f);
    bound_per_free += k * term.q;
    curvature += k * k * term.dq;
  }
  return {p.total - f - f * bound_per_free, -(1.0 + bound_per_free) - f * curvature,
          bound_per_free};
}

}  // namespace

double single_bound(const Single_ligand& p, double free) {
  double bound_per_free = p.nonspecific;
  for (int s = 0; s < p.n_sites; ++s) {
    const double k = p.affinity[s];
    bound_per_free +=
        k * site_term(p.capacity[s], p.cooperativity[s], p.background[s] + k * free).q;
  }
  return free * bound_per_free;
}

// Starting estimate: the exact solution for one site without cooperativity.
// The sites are lumped into one of capacity sum CR(s) and apparent affinity
// K' = sum K'(s) CR(s) / sum CR(s), with K'(s) = K(s) / (1 + A0(s)) the
// affinity left by the other ligands (exact when B = 1), and the positive
// root of the quadratic of lumped_root is taken.
double starting_estimate(const Single_ligand& p) {
  double apparent = 0.0;  // sum K'(s) CR(s)
  double capacity = 0.0;  // sum CR(s)
  double k = 0.0;         // K'
  if (p.n_sites == 1) {
    k = p.background[0] == 0.0 ? p.affinity[0] : p.affinity[0] / (1.0 + p.background[0]);
    apparent = k * p.capacity[0];
  } else {
    for (int s = 0; s < p.n_sites; ++s) {
      apparent += p.affinity[s] * p.capacity[s] / (1.0 + p.background[s]);
      capacity += p.capacity[s];
    }
    if (apparent > 0.0) k = apparent / capacity;
  }
  const double ns = 1.0 + p.nonspecific;
  if (!(apparent > 0.0)) return p.total / ns;
  return lumped_root(k, apparent, ns, p.total);
}

Single_solution solve_single_iterative(const Single_ligand& p) {
  const double t = p.total;
  double lo = 0.0;  // g(lo) > 0
  double hi = t;    // g(hi) <= 0
  double f = starting_estimate(p);
  if (!(f > 0.0 && f < t)) f = f >= t ? t : 0.5 * t;
  for (int iteration = 0; iteration < 100; ++iteration) {
    const Residual r = residual(p, f);
    // A residual at the level of its own rounding: F is as good as the
    // arithmetic can tell, and the bound follows from this evaluation.
    if (r.g == 0.0 || std::abs(r.g) <= 4.0 * epsilon * t) return {f, f * r.bound_per_free};
    if (r.g > 0.0) {
      lo = f;
    } else {
      hi = f;
    }
    double next = f - r.g / r.dg;
    if (!(next > lo && next < hi)) {
      // Newton left the bracket: bisect, geometrically while the bracket
      // spans orders of magnitude.
      next = (lo > 0.0 && hi > 4.0 * lo) ? std::sqrt(lo * hi) : 0.5 * (lo + hi);
    }
    const bool small_step = std::abs(next - f) <= 1e-12 * next;
    f = next;
    if (small_step || hi - lo <= 4.0 * epsilon * hi) break;
  }
  return {f, single_bound(p, f)};
}

}  // namespace kelvora::detail
