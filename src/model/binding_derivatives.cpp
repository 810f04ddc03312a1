// Derivatives of the labelled ligand's bound concentration b_h with respect
// to the model constants theta, by implicit differentiation of the
// conservation equations (binding_model.hpp) at the solved point.
//
// For the present ligands i (total above 1e-30; an absent ligand has F = 0
// and no equation) and sites s:
//   A_s = sum_i K_is F_i,  P_s = 1 + B_s A_s,  D_s = 1 + 2 A_s + B_s A_s^2,
//   rho_s = P_s / D_s,  Q_s = C R_s rho_s,
//   G_i = T_i - F_i (1 + C N_i + sum_s K_is Q_s) = 0.
// The derivatives of the site term are
//   dQ_s/dA_s = C R_s (B_s / D_s - 2 rho_s^2)                  =: Q'_s,
//   dQ_s/dB_s = C R_s (A_s D_s - P_s A_s^2) / D_s^2
//             = C R_s A_s (1 + A_s) / D_s^2                   (D_s - P_s A_s = 1 + A_s),
//   dQ_s/dR_s = C rho_s,   dQ_s/dC = R_s rho_s.
// With J = dG/dF, J_ij = -delta_ij (1 + C N_i + sum_s K_is Q_s)
// - F_i sum_s K_is K_js Q'_s (the solvers' Newton matrix), G(F(theta); theta)
// = 0 gives dF/dtheta = -J^-1 dG/dtheta, where dG/dtheta is the partial
// derivative at fixed F. At the solution b_h = T_h - F_h, so
//   db_h/dtheta = -dF_h/dtheta = e_h^T J^-1 dG/dtheta = mu^T dG/dtheta,
//   J^T mu = e_h,
// one small solve for all constants. Differentiating b_h = F_h (C N_h +
// sum_s K_hs Q_s) instead (explicit partial plus sum_j db_h/dF_j dF_j)
// leads to the same weights, since db_h/dF_j = -delta_hj - J_hj, but as
// mu = -e_h - J^-T (e_h + J_h.), a difference that cancels when the
// ligand is mostly bound; mu is therefore formed directly. Every term of
// mu^T dG/dtheta carries a factor F_h K_h. or F_h N_h (mu_i for i != h is
// proportional to J_hi), so the derivative keeps the relative scale of b_h
// even when b_h is a tiny fraction of T_h.
//
// The partial derivatives of G_i at fixed F, and with
//   W_s = sum_i mu_i F_i K_is,
// the derivatives of b_h they give:
//   K(m,s): dG_i = -F_i (delta_im Q_s + K_is Q'_s F_m)
//           db_h = -F_m (mu_m Q_s + W_s Q'_s)
//   R(s):   dG_i = -F_i K_is C rho_s                 db_h = -W_s C rho_s
//   N(m):   dG_i = -delta_im F_m C                   db_h = -mu_m F_m C
//   C:      dG_i = -F_i (N_i + sum_s K_is R_s rho_s)
//           db_h = -sum_i mu_i F_i N_i - sum_s W_s R_s rho_s
//   B(s):   dG_i = -F_i K_is C R_s A_s (1 + A_s) / D_s^2
//           db_h = -W_s C R_s A_s (1 + A_s) / D_s^2.
//
// Where the general solver had to fall back on its rough estimate (three or
// four ligands that Newton's method did not solve, or constants outside the
// convergence domain) the F it returns does not solve G = 0; the values here
// are then the derivatives of the same expressions at that F.

#include "model/binding_derivatives.hpp"

#include <algorithm>

namespace kelvora {

namespace {

constexpr double absent = 1e-30;  // a total at or below this is no ligand

}  // namespace

void calculate_bound_derivatives(const Curve_data& curve, const Fit_parameters& params, int point,
                                 const Binding_constants& k, double C, bool competition,
                                 Bound_derivatives& out) {
  out = Bound_derivatives{};
  Point_binding solved;
  calculate_binding_unified(curve, params, point, k, C, competition, solved);
  const int h = curve.labelled_ligand - 1;
  out.bound = solved.bound[h];

  const auto& total = curve.total[point];
  if (!(total[h] > absent)) return;
  // The present ligands (0-based), and the position of the labelled one.
  int ligand[max_ligands] = {};
  int n = 0;
  int labelled = -1;
  int n_sites = std::min(params.n_sites, max_sites);
  if (competition) {
    // The pair alone; its solver works on at most two sites.
    const int v = curve.varying_ligand - 1;
    if (total[v] > absent) {
      ligand[n++] = v;
      n_sites = std::min(n_sites, 2);
    }
    labelled = n;
    ligand[n++] = h;
  } else {
    for (int l = 0; l < params.n_ligands; ++l) {
      if (!(total[l] > absent)) continue;
      if (l == h) labelled = n;
      ligand[n++] = l;
    }
  }
  if (labelled < 0) return;  // a labelled ligand outside the model

  double f[max_ligands];
  for (int i = 0; i < n; ++i) f[i] = solved.free[ligand[i]];
  double rho[max_sites], q[max_sites], dq[max_sites], dq_db[max_sites];
  for (int s = 0; s < n_sites; ++s) {
    double occupancy = 0.0;
    for (int i = 0; i < n; ++i) occupancy += k.K[ligand[i]][s] * f[i];
    const double b = k.B[s];
    double denominator = 1.0 + occupancy * (2.0 + b * occupancy);
    if (!(denominator > 1e-30)) denominator = 1e-30;  // as in the solvers' site term
    const double inverse = 1.0 / denominator;
    const double capacity = C * k.R[s];
    rho[s] = (1.0 + b * occupancy) * inverse;
    q[s] = capacity * rho[s];
    dq[s] = capacity * (b * inverse - 2.0 * rho[s] * rho[s]);
    dq_db[s] = capacity * occupancy * (1.0 + occupancy) * inverse * inverse;
  }

  // J^T mu = e_h: mu_i is entry (h, i) of J^-1.
  double mu[max_ligands] = {};
  double jacobian[4][4] = {};
  for (int i = 0; i < n; ++i) {
    const double* ki = k.K[ligand[i]];
    double per_free = C * k.N[ligand[i]];
    for (int s = 0; s < n_sites; ++s) per_free += ki[s] * q[s];
    for (int j = 0; j < n; ++j) {
      const double* kj = k.K[ligand[j]];
      double cross = 0.0;
      for (int s = 0; s < n_sites; ++s) cross += ki[s] * kj[s] * dq[s];
      jacobian[i][j] = -f[i] * cross - (i == j ? 1.0 + per_free : 0.0);
    }
  }
  if (n == 1) {
    mu[0] = 1.0 / jacobian[0][0];
  } else if (n == 2) {
    // J is never singular in the domain (det J > 0: J = -H diag(1/F) with H
    // positive definite, see competition_solver.cpp).
    const double det = jacobian[0][0] * jacobian[1][1] - jacobian[0][1] * jacobian[1][0];
    const int other = 1 - labelled;
    mu[labelled] = jacobian[other][other] / det;
    mu[other] = -jacobian[labelled][other] / det;
  } else {
    double inverse[4][4];
    if (!invert_matrix_pivot(n, jacobian, inverse)) return;
    for (int i = 0; i < n; ++i) mu[i] = inverse[labelled][i];
  }

  double w[max_sites] = {};  // W_s = sum_i mu_i F_i K_is
  double mu_f[max_ligands];  // mu_i F_i
  for (int i = 0; i < n; ++i) {
    mu_f[i] = mu[i] * f[i];
    for (int s = 0; s < n_sites; ++s) w[s] += mu_f[i] * k.K[ligand[i]][s];
  }
  double dC = 0.0;
  for (int i = 0; i < n; ++i) {
    const int m = ligand[i];
    for (int s = 0; s < n_sites; ++s) out.dK[m][s] = -f[i] * (mu[i] * q[s] + w[s] * dq[s]);
    out.dN[m] = -mu_f[i] * C;
    dC -= mu_f[i] * k.N[m];
  }
  for (int s = 0; s < n_sites; ++s) {
    out.dR[s] = -w[s] * C * rho[s];
    out.dB[s] = -w[s] * dq_db[s];
    dC -= w[s] * k.R[s] * rho[s];
  }
  out.dC = dC;
}

}  // namespace kelvora
