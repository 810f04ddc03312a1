// Nested two-ligand solver. On a competition curve the labelled (hot) ligand
// is held at a fixed total while the competitor varies; the two-ligand
// system is reduced to a one-dimensional root search on the competitor's
// free concentration Fv, with the labelled ligand's free concentration
// Fh(Fv) solved inside at every trial value:
//   f(Fv) = Tv - Fv Sv(Fv, Fh(Fv)) = 0,
//   f'(Fv) = Jvv - Jvh Jhv / Jhh = det J / Jhh  (implicit differentiation of G_h = 0),
// with S and J as in the general solver.
//
// f falls strictly: with u = ln F the conservation equations are
// T - grad Psi(u) = 0 for the strictly convex
//   Psi(u) = sum_l (1 + C N(l)) F(l) + sum_s (C R(s) / 2) ln(1 + 2 A(s) + B(s) A(s)^2),
// (the logarithm of a polynomial with positive coefficients in e^u is
// convex), so J = -H diag(1/F) with H positive definite: Jhh < 0 and
// det J > 0, hence f' < 0 (indeed f' <= -1, as H >= diag(F)). With
// f(0) = Tv > 0 and f(Tv) <= 0 the bracket (0, Tv] holds exactly one root
// whatever the excess of competitor. Newton's method is kept inside the
// bracket and gives way to bisection whenever its steps stall, so the search
// always ends at the root.

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
  // Every site entry (a fixed count keeps the copies inline).
  for (int i = 0; i < max_sites; ++i) {
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
  const double fh = solve_single_free(labelled_problem(p, fv));
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

// The root of f on (0, Tv], from the estimate fv. Ends when the residual is
// at the level of its rounding (|f| <= 4 eps Tv; as |f'| >= 1 the error of
// Fv is then below 4 eps Tv), when a Newton step inside the bracket is below
// 1e-12 relative (the next error is of the order of its square), or when the
// bracket has shrunk to a few units of rounding. A Newton step that leaves
// the bracket or is not below half the step before last gives way to a
// bisection, geometric while the bracket spans orders of magnitude (the
// safeguard of Press, Teukolsky, Vetterling and Flannery, Cambridge
// University Press, 1992).
double solve_competitor(const Competition_problem& p, double fv) {
  double lo = 0.0;   // f(lo) > 0
  double hi = p.Tv;  // f(hi) <= 0
  if (!(fv > lo && fv < hi)) fv = 0.5 * hi;
  double step_last = hi, step_before = hi;
  // Steps at least halve every other iteration or the bracket is halved, so
  // the count is only a guard.
  for (int iteration = 0; iteration < 4000; ++iteration) {
    const Outer r = outer_residual(p, fv);
    if (r.f == 0.0) break;
    (r.f > 0.0 ? lo : hi) = fv;
    if (std::abs(r.f) <= 4.0 * epsilon * p.Tv) break;
    double next = fv - r.f / r.df;
    const bool bisect = !(next > lo && next < hi) || std::abs(next - fv) > 0.5 * step_before;
    if (bisect) next = (lo > 0.0 && hi > 4.0 * lo) ? std::sqrt(lo * hi) : 0.5 * (lo + hi);
    step_before = step_last;
    step_last = std::abs(next - fv);
    const bool small_step = !bisect && step_last <= 1e-12 * next;
    fv = next;
    if (small_step || hi - lo <= 4.0 * epsilon * hi) break;
  }
  return fv;
}

}  // namespace

Competition_problem pair_problem(const Binding_constants& k, double C, int n_sites, int v, int h,
                                 double Tv, double Th) {
  Competition_problem p;
  p.n_sites = n_sites;
  p.Tv = Tv;
  p.Th = Th;
  for (int s = 0; s < n_sites; ++s) {
    p.Kv[s] = k.K[v][s];
    p.Kh[s] = k.K[h][s];
    p.R[s] = k.R[s];
    p.B[s] = k.B[s];
  }
  p.Nv = k.N[v];
  p.Nh = k.N[h];
  p.C = C;
  return p;
}

void solve_pair(const Competition_problem& p, int varying, int labelled, Point_binding& out) {
  // Start: the labelled ligand alone, then the competitor against it.
  const double fh_alone = solve_single_free(labelled_problem(p, 0.0));
  const double fv = solve_competitor(p, solve_single_free(competitor_problem(p, fh_alone)));
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
  const Competition_problem p = pair_problem(k, C, std::min(n_sites, 2), v, h, total[v], total[h]);

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
  solve_pair(p, varying, labelled, out);
}

}  // namespace kelvora
