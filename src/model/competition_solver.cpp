// Competition solver. On a competition curve the labelled (hot) ligand is
// held at a fixed total while the competitor varies; the two-ligand system
// is reduced to a one-dimensional root search on the competitor's free
// concentration Fv, with the labelled ligand's free concentration Fh(Fv)
// solved inside at every trial value:
//   f(Fv) = Tv - Fv Sv(Fv, Fh(Fv)) = 0,
//   f'(Fv) = Jvv - Jvh Jhv / Jhh   (implicit differentiation of G_h = 0),
// with S and J as in the general solver. f(0) = Tv > 0 and f(Tv) <= 0, so
// (0, Tv] brackets the root whatever the excess of competitor; a Newton
// iteration kept inside that bracket finds it, Brent's method takes over
// should Newton not settle, and a closed-form estimate is the last resort.

#include "model/competition_solver.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kelvora::detail {

namespace {

constexpr double epsilon = std::numeric_limits<double>::epsilon();

// One ligand of the pair (total, nonspecific ratio, own affinities) with the
// other ligand's occupancy (its affinities times its free concentration)
// held fixed.
Single_ligand pair_member(const Competition_problem& p, double total, double ratio,
                          const double* own, const double* other, double other_free) {
  Single_ligand s;
  s.n_sites = p.n_sites;
  s.total = total;
  s.nonspecific = p.C * ratio;
  // Both site entries (a fixed count keeps the copies inline).
  for (int i = 0; i < 2; ++i) {
    s.affinity[i] = own[i];
    s.capacity[i] = p.C * p.R[i];
    s.cooperativity[i] = p.B[i];
    s.background[i] = other[i] * other_free;
  }
  return s;
}

Single_ligand labelled_problem(const Competition_problem& p, double fv) {
  return pair_member(p, p.Th, p.Nh, p.Kh, p.Kv, fv);
}

Single_ligand competitor_problem(const Competition_problem& p, double fh) {
  return pair_member(p, p.Tv, p.Nv, p.Kv, p.Kh, fh);
}

struct Outer {
  double f;   // Tv - Fv Sv
  double df;  // df/dFv along Fh(Fv)
};

Outer outer_residual(const Competition_problem& p, double fv) {
  const double fh = labelled_free(p, fv);
  double sv = p.C * p.Nv;  // Sv - 1
  double sh = p.C * p.Nh;  // Sh - 1
  double vv = 0.0, vh = 0.0, hh = 0.0;
  for (int s = 0; s < p.n_sites; ++s) {
    const auto term = site_term(p.C * p.R[s], p.B[s], p.Kv[s] * fv + p.Kh[s] * fh);
    sv += p.Kv[s] * term.q;
    sh += p.Kh[s] * term.q;
    vv += p.Kv[s] * p.Kv[s] * term.dq;
    vh += p.Kv[s] * p.Kh[s] * term.dq;
    hh += p.Kh[s] * p.Kh[s] * term.dq;
  }
  const double jvv = -(1.0 + sv) - fv * vv;
  const double jvh = -fv * vh;
  const double jhv = -fh * vh;
  const double jhh = -(1.0 + sh) - fh * hh;
  return {p.Tv - fv - fv * sv, jvv - jvh * jhv / jhh};
}

bool in_domain(const Competition_problem& p) {
  const auto ok = detail::finite_non_negative;
  if (!ok(p.C) || !ok(p.Nv) || !ok(p.Nh) || !(p.Tv > 1e-30) || !(p.Th > 1e-30)) return false;
  for (int s = 0; s < p.n_sites; ++s)
    if (!ok(p.Kv[s]) || !ok(p.Kh[s]) || !ok(p.R[s]) || !ok(p.B[s])) return false;
  return true;
}

// Newton's method on f inside the bracket (lo, hi]; false when it does not
// settle within 60 iterations (the bracket is then left tight around the root).
bool newton_competitor(const Competition_problem& p, double& fv, double& lo, double& hi) {
  for (int iteration = 0; iteration < 60; ++iteration) {
    const Outer r = outer_residual(p, fv);
    if (r.f == 0.0) return true;
    if (r.f > 0.0) {
      lo = fv;
    } else {
      hi = fv;
    }
    if (std::abs(r.f) <= 4.0 * epsilon * p.Tv) return true;
    double next = fv - r.f / r.df;
    if (!(next > lo && next < hi))
      next = (lo > 0.0 && hi > 4.0 * lo) ? std::sqrt(lo * hi) : 0.5 * (lo + hi);
    const bool small_step = std::abs(next - fv) <= 1e-12 * next;
    fv = next;
    if (small_step || hi - lo <= 4.0 * epsilon * hi) return true;
  }
  return false;
}

}  // namespace

double labelled_free(const Competition_problem& p, double fv) {
  return solve_single_free(labelled_problem(p, fv));
}

double mass_balance_multisite(double fv, const Competition_problem& p) {
  return outer_residual(p, fv).f;
}

double zbrent_competition(double a, double b, const Competition_problem& p, bool& ok) {
  ok = false;
  double fa = mass_balance_multisite(a, p);
  double fb = mass_balance_multisite(b, p);
  if ((fa > 0.0 && fb > 0.0) || (fa < 0.0 && fb < 0.0)) return 0.5 * (a + b);
  double c = b, fc = fb, d = 0.0, e = 0.0;
  for (int evaluation = 0; evaluation < 100; ++evaluation) {
    if ((fb > 0.0 && fc > 0.0) || (fb < 0.0 && fc < 0.0)) {
      c = a;
      fc = fa;
      e = d = b - a;
    }
    if (std::abs(fc) < std::abs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    // Relative convergence: a few units of rounding of the root itself.
    const double tol1 = 4.0 * epsilon * std::abs(b) + std::numeric_limits<double>::min();
    const double m = 0.5 * (c - b);
    if (std::abs(m) <= tol1 || fb == 0.0 || std::abs(fb) <= 4.0 * epsilon * p.Tv) {
      ok = true;
      return b;
    }
    if (std::abs(e) >= tol1 && std::abs(fa) > std::abs(fb)) {
      double pp, q;
      const double s = fb / fa;
      if (a == c) {
        pp = 2.0 * m * s;  // secant
        q = 1.0 - s;
      } else {
        const double qa = fa / fc;
        const double r = fb / fc;  // inverse quadratic interpolation
        pp = s * (2.0 * m * qa * (qa - r) - (b - a) * (r - 1.0));
        q = (qa - 1.0) * (r - 1.0) * (s - 1.0);
      }
      if (pp > 0.0) q = -q;
      pp = std::abs(pp);
      if (2.0 * pp < std::min(3.0 * m * q - std::abs(tol1 * q), std::abs(e * q))) {
        e = d;
        d = pp / q;
      } else {
        d = m;
        e = d;
      }
    } else {
      d = m;
      e = d;
    }
    a = b;
    fa = fb;
    b += std::abs(d) > tol1 ? d : (m > 0.0 ? tol1 : -tol1);
    fb = mass_balance_multisite(b, p);
  }
  return b;
}

void calculate_multisite_binding(double fv, const Competition_problem& p, int varying, int labelled,
                                 Point_binding& out) {
  const auto [fh, bh] = solve_single(labelled_problem(p, fv));
  const double bv = single_bound(competitor_problem(p, fh), fv);
  out.free[varying - 1] = fv;
  out.free[labelled - 1] = fh;
  out.bound[varying - 1] = std::min(bv, p.Tv);
  out.bound[labelled - 1] = std::min(bh, p.Th);
}

}  // namespace kelvora::detail

namespace kelvora {

void calculate_bound_competition_multisite(const double* total, const Binding_constants& k,
                                           double C, int varying, int labelled, int n_sites,
                                           Point_binding& out) {
  using namespace detail;
  const int v = varying - 1;
  const int h = labelled - 1;
  Competition_problem p;
  p.n_sites = std::min(n_sites, 2);
  p.Tv = total[v];
  p.Th = total[h];
  for (int s = 0; s < p.n_sites; ++s) {
    p.Kv[s] = k.K[v][s];
    p.Kh[s] = k.K[h][s];
    p.R[s] = k.R[s];
    p.B[s] = k.B[s];
  }
  p.Nv = k.N[v];
  p.Nh = k.N[h];
  p.C = C;

  if (!in_domain(p)) {
    // Outside the convergence domain (no competitor, or constants that are
    // negative or not finite): the general solver treats the point, with a
    // missing ligand taken as absent.
    double totals[max_ligands] = {};
    totals[v] = p.Tv > 1e-30 ? p.Tv : 0.0;
    totals[h] = p.Th;
    Point_binding general;
    calculate_bound_ligand_general(std::max(v, h) + 1, n_sites, totals, k, C, general);
    out.free[v] = general.free[v];
    out.bound[v] = general.bound[v];
    out.free[h] = general.free[h];
    out.bound[h] = general.bound[h];
    return;
  }

  // Start: the labelled ligand alone, then the competitor against it.
  const double fh_alone = solve_single_free(labelled_problem(p, 0.0));
  double fv = solve_single_free(competitor_problem(p, fh_alone));
  double lo = 0.0;
  double hi = p.Tv;
  if (!newton_competitor(p, fv, lo, hi)) {
    bool ok = false;
    fv = zbrent_competition(lo, hi, p, ok);
    if (!ok) {
      double s = 0.0;
      for (int site = 0; site < p.n_sites; ++site) s += p.Kv[site] * p.R[site];
      fv = p.Tv / (1.0 + p.C * s);
    }
  }
  calculate_multisite_binding(fv, p, varying, labelled, out);
}

}  // namespace kelvora
