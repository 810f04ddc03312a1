#pragma once
// Independent answers for the point model, in long double: the closed-form
// one-site solution and a brute-force nested bisection on the conservation
// equations T(l) = F(l) + F(l) (C N(l) + sum_s K(l,s) Q(s)).

#include <cmath>

namespace kelvora::testing {

using real = long double;

struct Reference_problem {
  int n_ligands = 1;  // 1 or 2
  int n_sites = 1;    // 1 or 2
  real total[2] = {};
  real K[2][2] = {};
  real R[2] = {};
  real N[2] = {};
  real B[2] = {1, 1};
  real C = 1;
};

struct Reference_answer {
  real free[2] = {};
  real bound[2] = {};
};

// Bound ligand l at the free concentrations f.
inline real reference_bound(const Reference_problem& p, const real* f, int l) {
  real per_free = p.C * p.N[l];
  for (int s = 0; s < p.n_sites; ++s) {
    real a = 0;
    for (int j = 0; j < p.n_ligands; ++j) a += p.K[j][s] * f[j];
    const real q = p.C * p.R[s] * (1 + p.B[s] * a) / (1 + 2 * a + p.B[s] * a * a);
    per_free += p.K[l][s] * q;
  }
  return f[l] * per_free;
}

// Root of the increasing function h on (0, total): geometric bisection while
// the bracket spans more than a factor 2, then arithmetic to full precision.
template <typename H>
real bisect(real total, H h) {
  real lo = total * 1e-40L, hi = total;
  for (int i = 0; i < 400 && hi - lo > 1e-18L * hi; ++i) {
    const real mid = hi > 2 * lo ? std::sqrt(lo * hi) : (lo + hi) / 2;
    if (h(mid) > 0) {
      hi = mid;
    } else {
      lo = mid;
    }
  }
  return (lo + hi) / 2;
}

// One or two present ligands; ligand 2 is solved inside for every trial
// value of ligand 1.
inline Reference_answer reference_solution(const Reference_problem& p) {
  Reference_answer out;
  real f[2] = {0, 0};
  auto solve_second = [&](real f1) {
    real g[2] = {f1, 0};
    return bisect(p.total[1], [&](real f2) {
      g[1] = f2;
      return f2 + reference_bound(p, g, 1) - p.total[1];
    });
  };
  if (p.n_ligands == 1) {
    f[0] = bisect(p.total[0], [&](real f1) {
      real g[1] = {f1};
      return f1 + reference_bound(p, g, 0) - p.total[0];
    });
  } else {
    f[0] = bisect(p.total[0], [&](real f1) {
      real g[2] = {f1, solve_second(f1)};
      return f1 + reference_bound(p, g, 0) - p.total[0];
    });
    f[1] = solve_second(f[0]);
  }
  for (int l = 0; l < p.n_ligands; ++l) {
    out.free[l] = f[l];
    out.bound[l] = reference_bound(p, f, l);
  }
  return out;
}

// One ligand, one site, B = 1: the quadratic
//   K(1 + CN) F^2 + (1 + CN + C K R - K T) F - T = 0.
inline Reference_answer one_site_closed_form(real T, real K, real R, real N, real C) {
  const real ns = 1 + C * N;
  const real a = K * ns, b = ns + C * K * R - K * T;
  const real root = std::sqrt(b * b + 4 * a * T);
  const real f = b >= 0 ? 2 * T / (b + root) : (root - b) / (2 * a);
  Reference_answer out;
  out.free[0] = f;
  out.bound[0] = f * (C * N + C * K * R / (1 + K * f));
  return out;
}

}  // namespace kelvora::testing
