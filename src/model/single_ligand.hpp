#pragma once
// One ligand's conservation equation with every other ligand held fixed:
//   g(F) = T - F (1 + CN + sum_s K(s) Q(s)),  A(s) = A0(s) + K(s) F,
// where A0(s) is the occupancy of site s by the other ligands. For
// non-negative constants g falls strictly from g(0) = T to g(T) <= 0, so the
// root is bracketed by (0, T] and a Newton iteration safeguarded by that
// bracket always converges.

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
bool in_domain(const Single_ligand& p);

struct Single_solution {
  double free;
  double bound;  // F (CN + sum_s K(s) Q(s)) at that F
};

// The root of g(F) = 0 (T > 0, constants in domain) and the bound ligand there.
Single_solution solve_single(const Single_ligand& p);
inline double solve_single_free(const Single_ligand& p) {
  return solve_single(p).free;
}

// Bound ligand F (CN + sum_s K(s) Q(s)) at free concentration F.
double single_bound(const Single_ligand& p, double free);

// The closed-form start of the iteration (exact for one site with B = 1).
double starting_estimate(const Single_ligand& p);

}  // namespace kelvora::detail
