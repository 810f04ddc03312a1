#pragma once
// Independent answers for the point model, in long double, and a sampler of
// the admissible parameter box; shared by the model tests and the solver
// stress program.
//
// The reference solves the conservation equations
//   T(l) = F(l) + F(l) (C N(l) + sum_s K(l,s) Q(s))
// as nested one-dimensional roots: ligand 1 outside, ligand 2 solved inside
// for every trial value of ligand 1. Each equation falls strictly in its own
// unknown (the outer one along the inner solution: with u = ln F the system
// is the gradient of a strictly convex function, so every Schur complement
// of its Jacobian keeps the sign of the diagonal), and each root is closed in
// by a bracket to long-double rounding, so the answer depends on the solver
// under test only through the hint that speeds up the bracketing.

#include <cmath>
#include <cstdint>
#include <random>
#include <utility>

#include "model/binding_model.hpp"

namespace kelvora::reference {

using real = long double;

struct Problem {
  int n_ligands = 1;  // 1 or 2
  int n_sites = 1;    // 1 or 2
  real total[2] = {};
  real K[2][2] = {};
  real R[2] = {};
  real N[2] = {};
  real B[2] = {1, 1};
  real C = 1;
};

struct Answer {
  real free[2] = {};
  real bound[2] = {};
};

// Bound ligand l at the free concentrations f.
inline real bound_of(const Problem& p, const real* f, int l) {
  real per_free = p.C * p.N[l];
  for (int s = 0; s < p.n_sites; ++s) {
    real a = 0;
    for (int j = 0; j < p.n_ligands; ++j) a += p.K[j][s] * f[j];
    const real q = p.C * p.R[s] * (1 + p.B[s] * a) / (1 + 2 * a + p.B[s] * a * a);
    per_free += p.K[l][s] * q;
  }
  return f[l] * per_free;
}

// Root of a strictly falling h on (0, total] (h(0+) > 0 >= h(total)). The
// bracket grows geometrically around the hint until the signs differ, is
// bisected geometrically down to a factor 2, then closed by false position
// with the Illinois modification (Dowell and Jarratt, BIT 11, 168-174, 1971).
template <typename H>
real falling_root(real total, real hint, H h) {
  real lo = total * 1e-40L, hi = total;
  real h_lo = 0, h_hi = h(hi);
  if (h_hi > 0) return total;  // no root below the total: cannot happen in the domain
  if (!(hint > lo && hint < hi)) hint = std::sqrt(lo * hi);
  for (real width = 1e-12L;; width *= 1e3L) {
    const real a = hint / (1 + width), b = hint * (1 + width);
    if (a <= lo || b >= hi) break;
    const real h_a = h(a), h_b = h(b);
    if (h_a > 0 && h_b <= 0) {
      lo = a, h_lo = h_a, hi = b, h_hi = h_b;
      break;
    }
    if (h_a <= 0) hi = a, h_hi = h_a;
    if (h_b > 0) lo = b, h_lo = h_b;
  }
  if (h_lo <= 0) h_lo = h(lo);
  while (hi > 2 * lo) {
    const real mid = std::sqrt(lo * hi), h_mid = h(mid);
    (h_mid > 0 ? lo : hi) = mid;
    (h_mid > 0 ? h_lo : h_hi) = h_mid;
  }
  int kept = 0;  // +1: lo moved last, -1: hi moved last
  for (int i = 0; i < 200 && h_hi != 0 && hi - lo > 1e-18L * hi; ++i) {
    const real x = (lo * h_hi - hi * h_lo) / (h_hi - h_lo);
    if (!(x > lo && x < hi)) break;
    const real h_x = h(x);
    if (h_x > 0) {
      lo = x, h_lo = h_x;
      if (kept == 1) h_hi /= 2;
      kept = 1;
    } else {
      hi = x, h_hi = h_x;
      if (kept == -1) h_lo /= 2;
      kept = -1;
    }
  }
  return h_hi == 0 || -h_hi < h_lo ? hi : lo;
}

// The solution; `hint` (free concentrations, may be nonsense) only speeds it up.
inline Answer solve(const Problem& p, const double* hint) {
  real f[2] = {0, 0};
  auto solve_second = [&](real f1) {
    real g[2] = {f1, 0};
    return falling_root(p.total[1], hint[1], [&](real f2) {
      g[1] = f2;
      return p.total[1] - f2 - bound_of(p, g, 1);
    });
  };
  if (p.n_ligands == 1) {
    f[0] = falling_root(p.total[0], hint[0], [&](real f1) {
      real g[1] = {f1};
      return p.total[0] - f1 - bound_of(p, g, 0);
    });
  } else {
    f[0] = falling_root(p.total[0], hint[0], [&](real f1) {
      real g[2] = {f1, solve_second(f1)};
      return p.total[0] - f1 - bound_of(p, g, 0);
    });
    f[1] = solve_second(f[0]);
  }
  Answer out;
  for (int l = 0; l < p.n_ligands; ++l) {
    out.free[l] = f[l];
    out.bound[l] = bound_of(p, f, l);
  }
  return out;
}

// True when every ligand's bound fraction lies in [1e-7, 1 - 1e-7], where
// free and bound are both required to 1e-9 relative.
inline bool in_accuracy_domain(const Problem& p, const Answer& r) {
  for (int l = 0; l < p.n_ligands; ++l) {
    const real fraction = r.bound[l] / p.total[l];
    if (!(fraction >= 1e-7L && fraction <= 1 - 1e-7L)) return false;
  }
  return true;
}

// Largest relative deviation of free and bound (ligands 0..n-1 of `got`).
inline double worst_error(const Problem& p, const Point_binding& got, const Answer& want) {
  double worst = 0;
  for (int l = 0; l < p.n_ligands; ++l) {
    const double e[2] = {static_cast<double>(std::abs(got.free[l] / want.free[l] - 1)),
                         static_cast<double>(std::abs(got.bound[l] / want.bound[l] - 1))};
    for (const double x : e) worst = x > worst || std::isnan(x) ? x : worst;
  }
  return worst;
}

inline Binding_constants constants_of(const Problem& p) {
  Binding_constants k;
  for (int l = 0; l < 2; ++l) {
    k.N[l] = static_cast<double>(p.N[l]);
    for (int s = 0; s < 2; ++s) k.K[l][s] = static_cast<double>(p.K[l][s]);
  }
  for (int s = 0; s < 2; ++s) {
    k.R[s] = static_cast<double>(p.R[s]);
    k.B[s] = static_cast<double>(p.B[s]);
  }
  return k;
}

// The general solver on the problem's ligands.
inline Point_binding run_general(const Problem& p) {
  const double totals[max_ligands] = {static_cast<double>(p.total[0]),
                                      static_cast<double>(p.total[1])};
  Point_binding out;
  calculate_bound_ligand_general(p.n_ligands, p.n_sites, totals, constants_of(p),
                                 static_cast<double>(p.C), out);
  return out;
}

// The competition solver with ligand 1 varying and ligand 2 labelled, or the
// other way round; the answer comes back in the problem's ligand order.
inline Point_binding run_competition(const Problem& p, bool swapped) {
  Binding_constants k = constants_of(p);
  double totals[max_ligands] = {static_cast<double>(p.total[0]), static_cast<double>(p.total[1])};
  if (swapped) {
    std::swap(k.K[0], k.K[1]);
    std::swap(k.N[0], k.N[1]);
    std::swap(totals[0], totals[1]);
  }
  Point_binding out;
  calculate_bound_competition_multisite(totals, k, static_cast<double>(p.C), swapped ? 2 : 1,
                                        swapped ? 1 : 2, p.n_sites, out);
  if (swapped) {
    std::swap(out.free[0], out.free[1]);
    std::swap(out.bound[0], out.bound[1]);
  }
  return out;
}

// Log-uniform sampling of the box a fit may visit: R 1e-14 to 1e-5, K 1e5 to
// 1e14 with K R from 1e-3 to 1e9, B 0.25 to 4, C 0.1 to 10, N 0 (one time in
// four) or 1e-4 to 0.5, totals 1e-4 to 1e8 times the receptor. Every value
// is a double, so the solvers see exactly the reference's constants.
class Box_sampler {
 public:
  explicit Box_sampler(std::uint64_t seed) : engine_(seed) {}
  double log_uniform(double lo, double hi) {
    const double u = static_cast<double>(engine_() >> 11) * 0x1.0p-53;
    return std::exp(std::log(lo) + u * (std::log(hi) - std::log(lo)));
  }
  Problem sample(int n_ligands, int n_sites) {
    Problem p;
    p.n_ligands = n_ligands;
    p.n_sites = n_sites;
    p.C = log_uniform(0.1, 10);
    for (int s = 0; s < n_sites; ++s) {
      p.R[s] = log_uniform(1e-14, 1e-5);
      p.B[s] = log_uniform(0.25, 4);
    }
    const double receptor = static_cast<double>(p.R[0] + p.R[1]);
    for (int l = 0; l < n_ligands; ++l) {
      for (int s = 0; s < n_sites; ++s) {
        double k;
        do {
          k = log_uniform(1e-3, 1e9) / static_cast<double>(p.R[s]);
        } while (k < 1e5 || k > 1e14);
        p.K[l][s] = k;
      }
      p.N[l] = engine_() % 4 == 0 ? 0.0 : log_uniform(1e-4, 0.5);
      p.total[l] = receptor * log_uniform(1e-4, 1e8);
    }
    return p;
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace kelvora::reference
