// General mass-action solver: the free concentrations of L ligands competing
// for S site classes, from the conservation equations G(l) = 0 (see
// binding_model.hpp).
//
// One present ligand is a one-dimensional problem with a bracketed root
// (single_ligand.hpp). Several present ligands are solved by Newton's method
// on G with the exact Jacobian
//   J(l,j) = -delta(l,j) S(l) - F(l) sum_s K(l,s) K(j,s) dQ(s)/dA,
//   S(l) = 1 + C N(l) + sum_s K(l,s) Q(s),
// started from a sweep of closed-form one-ligand estimates (each ligand with
// the others' occupancy held fixed). A step is shortened while it would
// leave (0, T) or fail to lower the largest relative residual |G(l)| / T(l).
// The iteration has converged when the residuals are at the level of
// rounding or a full, uncut Newton correction J^-1 G is below 1e-12 relative
// (the error left is then of the order of its square). That descent can
// stall where the Jacobian is badly scaled; should it stall, or not converge
// in 200 iterations (with restarts after 50 and 100), two present ligands go
// to the nested search of competition_solver.cpp, which always converges, and
// three or four fall back on a rough closed-form estimate.

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/binding_model.hpp"
#include "model/competition_solver.hpp"
#include "model/single_ligand.hpp"

namespace kelvora {

namespace {

using detail::Single_ligand;
using detail::single_problem;
using detail::site_term;

constexpr double absent = 1e-30;  // a total at or below this is no ligand
constexpr double epsilon = std::numeric_limits<double>::epsilon();

// The rough estimate F = T / (1 + C sum_s K R), limited to [0.01 T, 0.99 T]
// (with `share` T when there is no binding): the start of the classical
// iteration, kept as the last resort outside the convergence domain.
double rough_estimate(double total, const double* affinity, const Binding_constants& k, int n_sites,
                      double C, double share) {
  double s = 0.0;
  for (int site = 0; site < n_sites; ++site) s += affinity[site] * k.R[site];
  s *= C;
  double f = s > 1e-10 ? total / (1.0 + s) : share * total;
  f = std::max(f, 0.01 * total);
  return std::min(f, 0.99 * total);
}

struct Present {
  int n = 0;
  int ligand[max_ligands];  // 0-based ligand of each present entry
  double total[max_ligands];
  double inverse_total[max_ligands];  // set when two or more are present
};

// Residuals, Jacobian and bound-per-free of D present ligands at F.
template <int D>
struct Newton_state {
  double f[D];
  double g[D];
  double bound_per_free[D];  // S(l) - 1
  double jacobian[4][4];
  double worst;  // max |G(l)| / T(l)
};

template <int D, int S>
void evaluate(const Present& p, const Binding_constants& k, double C, Newton_state<D>& st) {
  constexpr int n_sites = S;
  double q[max_sites];
  double dq[max_sites];
  for (int s = 0; s < n_sites; ++s) {
    double a = 0.0;
    for (int i = 0; i < D; ++i) a += k.K[p.ligand[i]][s] * st.f[i];
    const auto term = site_term(C * k.R[s], k.B[s], a);
    q[s] = term.q;
    dq[s] = term.dq;
  }
  st.worst = 0.0;
  for (int i = 0; i < D; ++i) {
    const double* ki = k.K[p.ligand[i]];
    double per_free = C * k.N[p.ligand[i]];
    for (int s = 0; s < n_sites; ++s) per_free += ki[s] * q[s];
    st.bound_per_free[i] = per_free;
    st.g[i] = p.total[i] - st.f[i] - st.f[i] * per_free;
    const double relative = std::abs(st.g[i]) * p.inverse_total[i];
    st.worst = relative > st.worst || std::isnan(relative) ? relative : st.worst;
    for (int j = 0; j < D; ++j) {
      const double* kj = k.K[p.ligand[j]];
      double cross = 0.0;
      for (int s = 0; s < n_sites; ++s) cross += ki[s] * kj[s] * dq[s];
      st.jacobian[i][j] = -st.f[i] * cross - (i == j ? 1.0 + per_free : 0.0);
    }
  }
  if (std::isnan(st.worst)) st.worst = std::numeric_limits<double>::infinity();
}

// Newton's method for D >= 2 present ligands, from the estimate in st.f;
// false when it does not converge.
template <int D, int S>
bool solve_newton(const Present& p, const Binding_constants& k, double C, Newton_state<D>& result) {
  constexpr int n_sites = S;
  Newton_state<D> states[2];
  int current = 0;
  states[0] = result;
  evaluate<D, S>(p, k, C, states[0]);
  for (int iteration = 1; iteration <= 200; ++iteration) {
    Newton_state<D>& st = states[current];
    Newton_state<D>& trial = states[1 - current];
    if (st.worst <= 8.0 * epsilon) {
      result = st;
      return true;
    }
    double inverse[4][4];
    if (!invert_matrix_pivot(D, st.jacobian, inverse)) return false;
    double step[D];
    for (int i = 0; i < D; ++i) {
      step[i] = 0.0;
      for (int j = 0; j < D; ++j) step[i] += inverse[i][j] * st.g[j];
    }
    double damping = 1.0;
    bool accepted = false;
    bool full_step = true;  // the whole Newton correction, neither cut nor clamped
    for (int cut = 0; cut < 40 && !accepted; ++cut, damping *= 0.5) {
      full_step = cut == 0;
      for (int i = 0; i < D; ++i) {
        double f = st.f[i] - damping * step[i];
        // Stay strictly inside (0, T): at most a tenfold fall, at most half
        // of the remaining way up to the total.
        if (!(f > 0.1 * st.f[i])) f = 0.1 * st.f[i], full_step = false;
        if (!(f < p.total[i])) f = st.f[i] + 0.5 * (p.total[i] - st.f[i]), full_step = false;
        trial.f[i] = f;
      }
      evaluate<D, S>(p, k, C, trial);
      accepted = trial.worst < st.worst || trial.worst <= 8.0 * epsilon;
    }
    if (!accepted) return false;
    // Only a small full correction J^-1 G says that the iteration has
    // converged (the error left is of the order of its square); a step cut
    // short is small because it was cut.
    bool small_step = full_step;
    for (int i = 0; i < D; ++i)
      small_step = small_step && std::abs(trial.f[i] - st.f[i]) <= 1e-12 * trial.f[i];
    current = 1 - current;
    if (small_step) {
      result = trial;
      return true;
    }
    if (iteration == 50 || iteration == 100) {
      // Restart from the low-binding estimate T / (1 + 0.1 s).
      for (int i = 0; i < D; ++i) {
        double s = 0.0;
        for (int site = 0; site < n_sites; ++site) s += k.K[p.ligand[i]][site] * k.R[site];
        s *= C;
        trial.f[i] = s > 1e-10 ? p.total[i] / (1.0 + 0.1 * s) : 0.5 * p.total[i];
      }
      evaluate<D, S>(p, k, C, trial);
    }
  }
  return false;
}

// Starts and runs Newton's method for D present ligands; writes the result
// into `out` and returns true when it converged.
template <int D, int S>
bool solve_several(const Present& p, const Binding_constants& k, double C, Point_binding& out) {
  constexpr int n_sites = S;
  // Start: the closed-form estimate of each ligand alone, then one sweep in
  // which each is estimated with the others' occupancy held fixed.
  Newton_state<D> st;
  const double no_background[max_sites] = {};
  for (int i = 0; i < D; ++i) {
    st.f[i] = detail::starting_estimate(
        single_problem(n_sites, p.ligand[i], p.total[i], k, C, no_background));
  }
  for (int i = 0; i < D; ++i) {
    double background[max_sites] = {};
    for (int s = 0; s < n_sites; ++s)
      for (int j = 0; j < D; ++j)
        if (j != i) background[s] += k.K[p.ligand[j]][s] * st.f[j];
    st.f[i] = detail::starting_estimate(
        single_problem(n_sites, p.ligand[i], p.total[i], k, C, background));
  }
  if (!solve_newton<D, S>(p, k, C, st)) {
    if constexpr (D != 2) {
      return false;
    } else {
      // The nested search, which always converges: ligand 1 outside, ligand
      // 2 solved inside.
      const auto pair =
          detail::pair_problem(k, C, n_sites, p.ligand[0], p.ligand[1], p.total[0], p.total[1]);
      detail::solve_pair(pair, p.ligand[0] + 1, p.ligand[1] + 1, out);
      return true;
    }
  }
  for (int i = 0; i < D; ++i) {
    out.free[p.ligand[i]] = st.f[i];
    out.bound[p.ligand[i]] = std::clamp(st.f[i] * st.bound_per_free[i], 0.0, p.total[i]);
  }
  return true;
}

template <int D>
bool solve_several_sites(const Present& p, int n_sites, const Binding_constants& k, double C,
                         Point_binding& out) {
  switch (n_sites) {
    case 1:
      return solve_several<D, 1>(p, k, C, out);
    case 2:
      return solve_several<D, 2>(p, k, C, out);
    default:
      return solve_several<D, 3>(p, k, C, out);
  }
}

// Newton's method compiled for the number of present ligands and of sites.
bool solve_several(const Present& p, int n_sites, const Binding_constants& k, double C,
                   Point_binding& out) {
  switch (p.n) {
    case 2:
      return solve_several_sites<2>(p, n_sites, k, C, out);
    case 3:
      return solve_several_sites<3>(p, n_sites, k, C, out);
    default:
      return solve_several_sites<4>(p, n_sites, k, C, out);
  }
}

bool constants_in_domain(const Present& p, int n_sites, const Binding_constants& k, double C) {
  const auto ok = detail::finite_non_negative;
  if (!ok(C)) return false;
  for (int s = 0; s < n_sites; ++s)
    if (!ok(k.R[s]) || !ok(k.B[s])) return false;
  for (int i = 0; i < p.n; ++i) {
    if (!ok(k.N[p.ligand[i]])) return false;
    for (int s = 0; s < n_sites; ++s)
      if (!ok(k.K[p.ligand[i]][s])) return false;
  }
  return true;
}

}  // namespace

void calculate_bound_ligand_general(int n_ligands, int n_sites, const double* total,
                                    const Binding_constants& k, double C, Point_binding& out) {
  Present p;
  for (int l = 0; l < n_ligands; ++l) {
    out.free[l] = 0.0;
    out.bound[l] = 0.0;
    if (total[l] > absent) {
      p.ligand[p.n] = l;
      p.total[p.n] = total[l];
      ++p.n;
    }
  }
  if (p.n == 0) return;
  if (p.n == 1) {
    const double no_background[max_sites] = {};
    const Single_ligand problem =
        single_problem(n_sites, p.ligand[0], p.total[0], k, C, no_background);
    if (detail::in_domain(problem)) {
      const auto solution = detail::solve_single(problem);
      out.free[p.ligand[0]] = solution.free;
      out.bound[p.ligand[0]] = std::min(solution.bound, p.total[0]);
      return;
    }
  } else if (constants_in_domain(p, n_sites, k, C)) {
    for (int i = 0; i < p.n; ++i) p.inverse_total[i] = 1.0 / p.total[i];
    if (solve_several(p, n_sites, k, C, out)) return;
  }
  for (int i = 0; i < p.n; ++i) {
    const double f = rough_estimate(p.total[i], k.K[p.ligand[i]], k, n_sites, C, 0.95);
    out.free[p.ligand[i]] = f;
    out.bound[p.ligand[i]] = p.total[i] - f;
  }
}

bool invert_matrix_pivot(int n, const double (&m)[4][4], double (&inverse)[4][4]) {
  if (n == 2) {
    // Elimination with partial pivoting written out: the first pivot is the
    // larger of |m00| and |m10|, the second det / first pivot.
    const double first = std::max(std::abs(m[0][0]), std::abs(m[1][0]));
    const double det = m[0][0] * m[1][1] - m[0][1] * m[1][0];
    if (!(first >= 1e-20) || !(std::abs(det) >= 1e-20 * first) || !std::isfinite(det)) return false;
    const double r = 1.0 / det;
    inverse[0][0] = m[1][1] * r;
    inverse[0][1] = -m[0][1] * r;
    inverse[1][0] = -m[1][0] * r;
    inverse[1][1] = m[0][0] * r;
    return true;
  }
  double a[4][8];
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      a[i][j] = m[i][j];
      a[i][n + j] = i == j ? 1.0 : 0.0;
    }
  }
  for (int col = 0; col < n; ++col) {
    int pivot = col;
    for (int r = col + 1; r < n; ++r)
      if (std::abs(a[r][col]) > std::abs(a[pivot][col])) pivot = r;
    if (!(std::abs(a[pivot][col]) >= 1e-20) || !std::isfinite(a[pivot][col])) return false;
    if (pivot != col)
      for (int j = 0; j < 2 * n; ++j) std::swap(a[col][j], a[pivot][j]);
    const double scale = 1.0 / a[col][col];
    for (int j = col; j < 2 * n; ++j) a[col][j] *= scale;
    for (int r = 0; r < n; ++r) {
      if (r == col) continue;
      const double factor = a[r][col];
      for (int j = col; j < 2 * n; ++j) a[r][j] -= factor * a[col][j];
    }
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) inverse[i][j] = a[i][n + j];
  return true;
}

}  // namespace kelvora
