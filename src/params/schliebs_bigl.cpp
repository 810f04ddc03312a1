// Schliebs-Bigl estimation. With F = T - B the free and B the total bound
// concentration, one-site binding with nonspecific binding N F satisfies
//   B/F = (N + K Bmax) - K B + K N F,
// a plane in (B, F): a multiple regression of Y = B/F on B and F gives
// bB = -K, bF = K N and the intercept a = N + K Bmax, so
//   K = -bB,  N = -bF / bB,  Bmax = (a - N) / K.
// The regression is computed from standardised coefficients:
//   betaF = (rYF - rYB rFB) / (1 - rFB^2),  betaB = (rYB - rYF rFB) / (1 - rFB^2),
//   bB = sY betaB / sB,  bF = sY betaF / sF,  R^2 = |betaB rYB + betaF rYF|,
// with s the root sums of squared deviations and r the correlations.

#include <algorithm>
#include <cmath>

#include "data/parameter_layout.hpp"
#include "params/auto_estimates.hpp"
#include "params/saturation_points.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"

namespace kelvora {

namespace {

using detail::set_estimate;

struct Plane_estimate {
  double K;
  double N;
  double Bmax;
};

// Applies the plausibility limits to a regression's K, N and Bmax.
Plane_estimate limited(Plane_estimate e, double largest_bound) {
  if (e.K < 1e5) {
    e.K = 1e8;
  } else if (e.K > 1e13) {
    e.K = 1e10;
  }
  if (e.Bmax < 1e-14) e.Bmax = 0.5 * largest_bound;
  if (e.N < 1e-4) {
    e.N = 1e-4;
  } else if (e.N > 0.25) {
    e.N = 0.1;
  }
  return e;
}

void assign(Fit_parameters& p, int ligand, const Plane_estimate& e) {
  if (p.n_sites == 1) {
    set_estimate(p, k_slot(p, ligand, 1), e.K);
    set_estimate(p, r_slot(p, 1), e.Bmax);
  } else {
    set_estimate(p, k_slot(p, ligand, 1), 10.0 * e.K);
    set_estimate(p, k_slot(p, ligand, 2), 0.1 * e.K < 1e5 ? 1e6 : 0.1 * e.K);
    set_estimate(p, r_slot(p, 1), 0.1 * e.Bmax);
    set_estimate(p, r_slot(p, 2), 0.9 * e.Bmax);
  }
  set_estimate(p, n_slot(p, ligand), e.N);
}

}  // namespace

void preadjust_initial_parameters_schliebs_bigl(Console& console, const Curve_table& curves,
                                                Fit_parameters& p, double& r_yb, double& r2) {
  const detail::Saved_constants saved(p, max_params);
  const std::string heading_rule = rule('=', 42);
  console.empty_line();
  console.free_form(heading_rule);
  console.free_form("   SCHLIEBS-BIGL PARAMETER ESTIMATION");
  console.free_form("   Multiple regression of B/F on bound B and free F");
  console.free_form(heading_rule);

  for (int ligand = 1; ligand <= p.n_ligands; ++ligand) {
    const auto points = detail::gather_saturation_points(curves, p, ligand);
    const std::size_t k = points.size();
    if (k <= 2) {
      set_estimate(p, k_slot(p, ligand, 1), p.n_sites == 1 ? 1e8 : 1e9);
      if (p.n_sites >= 2) set_estimate(p, k_slot(p, ligand, 2), 1e7);
      set_estimate(p, n_slot(p, ligand), 0.001);
      continue;
    }
    std::vector<double> f(k), b(k), y(k);
    double mean_f = 0, mean_b = 0, mean_y = 0, largest = 0;
    for (std::size_t i = 0; i < k; ++i) {
      b[i] = points[i].bound;
      f[i] = detail::free_ligand(points[i]);
      y[i] = b[i] / f[i];
      mean_f += f[i];
      mean_b += b[i];
      mean_y += y[i];
      largest = std::max(largest, b[i]);
    }
    mean_f /= k;
    mean_b /= k;
    mean_y /= k;
    double ff = 0, bb = 0, yy = 0, yb = 0, fb = 0, yf = 0;
    for (std::size_t i = 0; i < k; ++i) {
      const double df = f[i] - mean_f, db = b[i] - mean_b, dy = y[i] - mean_y;
      ff += df * df;
      bb += db * db;
      yy += dy * dy;
      yb += dy * db;
      fb += df * db;
      yf += dy * df;
    }
    const double s_f = std::sqrt(ff), s_b = std::sqrt(bb), s_y = std::sqrt(yy);
    if (s_f < 1e-30 || s_b < 1e-30 || s_y < 1e-30) {
      console.exact(" ERROR: Zero variance in data - cannot perform regression");
      continue;
    }
    r_yb = yb / (s_y * s_b);
    const double r_fb = fb / (s_f * s_b);
    const double r_yf = yf / (s_y * s_f);
    const double collinearity = 1.0 - r_fb * r_fb;
    if (std::abs(collinearity) < 1e-10) {
      console.exact(" ERROR: Multicollinearity detected - F and BT are too correlated");
      continue;
    }
    const double beta_f = (r_yf - r_yb * r_fb) / collinearity;
    const double beta_b = (r_yb - r_yf * r_fb) / collinearity;
    const double coef_b = s_y * beta_b / s_b;
    const double coef_f = s_y * beta_f / s_f;
    const double intercept = mean_y - coef_f * mean_f - coef_b * mean_b;
    r2 = std::abs(beta_b * r_yb + beta_f * r_yf);

    Plane_estimate e{1e8, 0.01, 1e-12};
    if (coef_b < -1e-30) {
      e.K = -coef_b;
      e.N = -coef_f / coef_b;
      e.Bmax = (intercept - e.N) / e.K;
    } else {
      console.exact(" WARNING: KA calculation failed, using defaults");
    }
    assign(p, ligand, limited(e, largest));
    console.empty_line();
  }
  detail::receptors_from_smallest_bound(curves, p);
  saved.restore(p);

  const std::string summary_rule = rule('=', 41);
  console.free_form(summary_rule);
  console.free_form("   SUMMARY OF INITIAL ESTIMATES");
  console.free_form(summary_rule);
  for (int slot = 0; slot < p.n_params; ++slot) {
    if (!p.is_constant[slot])
      console.exact(" " + fmt_left(p.name[slot], 10) + " = " + fmt_es(p.value[slot], 12, 5));
  }
  for (int c = 0; c < p.n_curves; ++c)
    console.exact(" Curve: " + fmt_i(c + 1, 2) + "  Data points: " + fmt_i(curves[c].n_points, 4));
  console.free_form(summary_rule);
  console.empty_line();
}

}  // namespace kelvora
