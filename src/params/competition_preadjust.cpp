// Competition pre-adjustment. A displacement curve of bound fraction y
// against competitor concentration x follows the logistic line
//   y = B0 / (1 + (x / IC50)^h),  i.e.  log10(B0/y - 1) = h log10 x - h log10 IC50,
// so a straight-line fit gives the Hill slope h and IC50 = 10^(-a/h). The
// competitor's inhibition constant follows from the Cheng-Prusoff relation
//   Ki = IC50 / (1 + L Khot)     (L the labelled ligand's concentration),
// and the receptor concentration that gives the largest bound value Bmax at
// L from R = Bmax (1 + L Khot) / (L Khot).
//   Cheng-Prusoff relation: Biochem. Pharmacol. 22, 3099-3108 (1973).

#include <algorithm>
#include <cmath>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "params/auto_estimates.hpp"
#include "params/saturation_points.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"

namespace kelvora {

namespace {

// The geometric mean of the smallest and the largest positive
// concentration (a first point without competitor is common), 0 when there
// is none.
double geometric_mean_range(const std::vector<double>& x) {
  double smallest = 0.0, largest = 0.0;
  for (const double v : x) {
    if (!(v > 0.0)) continue;
    if (smallest == 0.0 || v < smallest) smallest = v;
    largest = std::max(largest, v);
  }
  return std::sqrt(smallest * largest);
}

}  // namespace

Logistic_line fit_logistic_competition(const std::vector<double>& x, const std::vector<double>& y) {
  Logistic_line line;
  const std::size_t n = x.size();
  if (n == 0) return line;
  line.B0 = y[0];
  const double floor = std::max(0.01 * line.B0, *std::min_element(y.begin(), y.end()));
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int used = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!(x[i] > 1e-30 && y[i] > floor && y[i] < line.B0)) continue;
    const double lx = std::log10(x[i]);
    const double ly = std::log10(line.B0 / y[i] - 1.0);
    sx += lx;
    sy += ly;
    sxx += lx * lx;
    sxy += lx * ly;
    ++used;
  }
  if (used < 3) {
    line.IC50 = geometric_mean_range(x);
    return line;
  }
  const double h = (used * sxy - sx * sy) / (used * sxx - sx * sx);
  const double a = (sy - h * sx) / used;
  line.IC50 = std::abs(h) > 1e-10 ? std::pow(10.0, -a / h) : geometric_mean_range(x);
  line.hill = h < 0.3 ? 0.6 : h > 3.0 ? 1.5 : h;
  // Keep the IC50 inside the measured range (second to second-to-last point).
  if (line.IC50 < x[1]) line.IC50 = 5.0 * x[1];
  if (line.IC50 > x[n - 2]) line.IC50 = x[n - 2] / 5.0;
  return line;
}

void preadjust_initial_parameters_competition(Console& console, const Curve_table& curves,
                                              Fit_parameters& p) {
  const detail::Saved_constants saved(p, p.n_params_check);
  const std::string heading_rule = rule('=', 41);
  console.empty_line();
  console.free_form(heading_rule);
  console.free_form("  COMPETITION PRE-ADJUSTMENT");
  console.free_form(heading_rule);
  console.empty_line();

  bool any = false;
  for (int c = 0; c < p.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    if (!is_competition_assay(curve, p)) continue;
    any = true;
    const int hot = curve.labelled_ligand;
    const int cold = curve.varying_ligand;
    const int n = curve.n_points;
    const double hot_total = curve.total_of(0, hot);
    std::vector<double> x(n), y(n);
    double bmax = 0.0;
    for (int i = 0; i < n; ++i) {
      x[i] = curve.total_of(i, cold);
      y[i] = hot_total > 1e-30 ? curve.bound[i] / hot_total : 0.0;
      bmax = std::max(bmax, curve.bound[i]);
    }
    console.exact(" Analyzing: " + curve.file_name);
    console.exact("   Points: " + fmt_i(n, 3));
    console.exact("   Hot ligand: " + fmt_es(hot_total, 12, 5) + " [M]");
    console.exact("   B0 (max B/T): " + fmt_f(n > 0 ? y[0] : 0.0, 8, 4));
    console.exact("   Bmax: " + fmt_es(bmax, 12, 5) + " [M]");
    const Logistic_line line = fit_logistic_competition(x, y);
    console.exact("   IC50: " + fmt_es(line.IC50, 12, 5) + " [M]");
    console.exact("   Hill slope: " + fmt_f(line.hill, 6, 3));

    const int hot_slot = k_slot(p, hot, 1);
    const int cold_slot = k_slot(p, cold, 1);
    const double k_hot = p.value[hot_slot];
    if (p.is_constant[hot_slot]) console.exact("   K11 (hot) FIXED AT = " + fmt_es(k_hot, 12, 5));
    if (line.IC50 > 0.0) {
      const double ki = k_hot > 1e5 ? line.IC50 / (1.0 + hot_total * k_hot) : line.IC50;
      const double k = 1.0 / ki;
      console.exact("   K21 (cold) initial: " + fmt_es(k, 12, 5) +
                    " (Kd = " + fmt_es(1.0 / k, 12, 5) + " [M])");
      if (p.is_constant[cold_slot]) {
        console.exact("   K21 (cold) FIXED AT = " + fmt_es(p.value[cold_slot], 12, 5));
      } else {
        detail::set_estimate(p, cold_slot, k);
        console.exact("   SET K21 (cold) = " + fmt_es(k, 12, 5));
      }
    } else {
      console.exact("   K21 (cold): no competitor concentration above 0, value kept");
    }
    const double r = k_hot > 1e5 && hot_total > 1e-30
                         ? bmax * (1.0 + hot_total * k_hot) / (hot_total * k_hot)
                         : 2.0 * bmax;
    console.exact("   R1: " + fmt_es(r, 12, 5) + " [M]");
    console.empty_line();
    const int r1 = r_slot(p, 1);
    if (!p.is_constant[r1]) {
      detail::set_estimate(p, r1, r);
      console.exact("   SET R1 = " + fmt_es(r, 12, 5));
    }
  }
  if (!any) {
    console.exact(" No competition curves found - skipping pre-adjustment");
    console.empty_line();
  }

  console.empty_line();
  console.free_form("FINAL ADJ PARAMS CONSTANTS:");
  saved.restore(p);
  for (int i = 0; i < p.n_params_check; ++i) {
    if (p.is_constant[i])
      console.exact(fmt_i(i + 1, 2) + " " + fmt_left(p.name[i], 10) + " = " +
                    fmt_es(p.value[i], 12, 5));
  }
  console.empty_line();
  console.free_form(heading_rule);
  console.empty_line();
}

}  // namespace kelvora
