// Scatchard estimation. For one site, specific bound Bsp and free F satisfy
//   Bsp / F = K Bmax - K Bsp,
// a straight line of q = Bsp/F against Bsp with slope -K and intercept
// K Bmax. Nonspecific binding is removed first as Bsp = B - N F, with N from
// the smallest bound/total ratio of the ligand's points. The quality of a
// line is its r^2, the share of the spread of q that the line explains.
//   Scatchard G, Ann. N.Y. Acad. Sci. 51, 660-672 (1949).

#include <algorithm>
#include <cmath>

#include "data/parameter_layout.hpp"
#include "params/auto_estimates.hpp"
#include "params/saturation_points.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/straight_line.hpp"

namespace kelvora {

namespace {

using detail::set_estimate;

Scatchard_line linear_fit(const double* x, const double* y, int n) {
  std::vector<double> q(n);  // the Scatchard ordinate, specific bound / free
  for (int i = 0; i < n; ++i) q[i] = x[i] / y[i];
  const Straight_line fit = fit_straight_line(x, q.data(), n);
  // A line that cannot be formed (all specific bound values equal) falls
  // back like a shallow one.
  Scatchard_line line;
  line.K = fit.formed && fit.slope <= -1e5 ? -fit.slope : 1e8;
  line.Bmax = fit.formed ? fit.intercept / line.K : 0.0;
  if (!(line.Bmax >= 1e-12)) line.Bmax = *std::max_element(x, x + n);
  line.quality = fit.r2;
  return line;
}

std::string kd_text(double k, const char* unit) {
  return "   K = " + fmt_es(k, 12, 5) + " (Kd = " + fmt_es(1.0 / k, 12, 5) + unit;
}

}  // namespace

Scatchard_line fit_scatchard_linear(Console& console, const std::vector<double>& x,
                                    const std::vector<double>& y) {
  console.empty_line();
  return linear_fit(x.data(), y.data(), static_cast<int>(x.size()));
}

Two_site_scatchard fit_scatchard_twosite(Console& console, const std::vector<double>& x,
                                         const std::vector<double>& y) {
  const int n = static_cast<int>(x.size());
  const int m = std::max(static_cast<int>(0.4 * n), 2);
  const double largest = *std::max_element(x.begin(), x.end());
  Two_site_scatchard fit;
  console.empty_line();
  fit.high = linear_fit(x.data(), y.data(), m);
  if (n - m > 1) {
    console.empty_line();
    fit.low = linear_fit(x.data() + (n - m), y.data() + (n - m), m);
  } else {
    fit.low = {0.01 * fit.high.K, 1.5 * largest, 0.0};
  }
  fit.quality = 0.5 * (fit.high.quality + fit.low.quality);
  console.empty_line();
  if (fit.low.K > fit.high.K) std::swap(fit.high, fit.low);
  if (fit.high.K < 1e5) fit.high.K = 1e8;
  if (fit.low.K < 1e5) fit.low.K = 1e6;
  if (fit.high.Bmax < 1e-14) fit.high.Bmax = 0.1 * largest;
  if (fit.low.Bmax < 1e-14) fit.low.Bmax = 1.5 * largest;
  return fit;
}

void preadjust_initial_parameters_scatchard(Console& console, const Curve_table& curves,
                                            Fit_parameters& p, double& quality) {
  const detail::Saved_constants saved(p, max_params);
  const std::string heading_rule = rule('=', 44);
  console.empty_line();
  console.free_form(heading_rule);
  console.free_form("   SCATCHARD PARAMETER ESTIMATION");
  console.free_form("   Scatchard G, Ann. N.Y. Acad. Sci. 51, 660-672 (1949)");
  console.free_form(heading_rule);

  // Nonspecific ratios: the smallest bound/total ratio of each ligand.
  for (int ligand = 1; ligand <= p.n_ligands; ++ligand) {
    const int slot = n_slot(p, ligand);
    if (p.is_constant[slot]) continue;
    const auto points = detail::gather_saturation_points(curves, p, ligand);
    double n = 0.001;
    if (!points.empty()) {
      double r = points[0].bound / points[0].total;
      for (const auto& point : points) r = std::min(r, point.bound / point.total);
      n = r < 1e-4 ? 1e-4 : r > 0.25 ? 0.25 * r : r;
    }
    set_estimate(p, slot, n);
  }

  for (int ligand = 1; ligand <= p.n_ligands; ++ligand) {
    const auto points = detail::gather_saturation_points(curves, p, ligand);
    if (points.size() < 3) continue;
    const double n = p.accepted[n_slot(p, ligand)];
    std::vector<double> specific, free;
    for (const auto& point : points) {
      const double f = detail::free_ligand(point);
      const double bsp = point.bound - n * f;
      if (bsp > 0.0 && f > 0.0) {
        specific.push_back(bsp);
        free.push_back(f);
      }
    }
    if (specific.size() <= 2) {
      console.exact("   Not enough specific binding points");
      continue;
    }
    if (p.n_sites == 1) {
      const Scatchard_line line = fit_scatchard_linear(console, specific, free);
      quality = line.quality;
      set_estimate(p, k_slot(p, ligand, 1), line.K);
      console.exact(kd_text(line.K, " M)"));
      console.exact("   Bmax = " + fmt_es(line.Bmax, 12, 5) + " [M]");
      console.exact("   One-site R-squared = " + fmt_f(line.quality, 8, 5));
      if (line.quality < 0.5) {
        console.empty_line();
        console.exact(" WARNING: Low R-squared suggests data may not fit");
        console.exact("          one-site model. Consider two-site analysis.");
      }
    } else {
      const Two_site_scatchard fit = fit_scatchard_twosite(console, specific, free);
      quality = fit.quality;
      set_estimate(p, k_slot(p, ligand, 1), fit.high.K);
      set_estimate(p, k_slot(p, ligand, 2), fit.low.K);
      console.empty_line();
      console.exact("   Site 1 (high):" + kd_text(fit.high.K, " [M])").substr(2));
      console.exact("                  Bmax = " + fmt_es(fit.high.Bmax, 12, 5) + " [M]");
      console.exact("   Site 2 (low): " + kd_text(fit.low.K, " [M])").substr(2));
      console.exact("                  Bmax = " + fmt_es(fit.low.Bmax, 12, 5) + " [M]");
      console.exact("   Two-site R-squared = " + fmt_f(fit.quality, 8, 5));
      if (fit.quality < 0.5) {
        console.empty_line();
        console.exact(" WARNING: Low R-squared suggests data may not fit");
        console.exact("          two-site model. Consider one-site analysis.");
      }
    }
    console.empty_line();
  }
  detail::receptors_from_smallest_bound(curves, p);
  saved.restore(p);
}

}  // namespace kelvora
