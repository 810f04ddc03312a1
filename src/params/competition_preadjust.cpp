// Competition pre-adjustment. A displacement curve of bound fraction y
// against competitor concentration x follows the logistic line
//   y = B0 / (1 + (x / IC50)^h),  i.e.  log10(B0/y - 1) = h log10 x - h log10 IC50,
// so a straight-line fit gives the Hill slope h and IC50 = 10^(-a/h). The
// competitor's inhibition constant follows from the Cheng-Prusoff relation
//   Ki = IC50 / (1 + L Khot)     (L the labelled ligand's concentration),
// and the receptor concentration that gives the largest bound value Bmax at
// L from R = Bmax (1 + L Khot) / (L Khot).
//   Cheng Y, Prusoff WH, Biochem. Pharmacol. 22, 3099-3108 (1973).

#include <algorithm>
#include <cmath>
#include <numeric>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "params/auto_estimates.hpp"
#include "params/saturation_points.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/straight_line.hpp"

namespace kelvora {

Logistic_line fit_logistic_competition(const std::vector<double>& x_in,
                                       const std::vector<double>& y_in) {
  Logistic_line line;
  const std::size_t n = x_in.size();
  if (n == 0) return line;
  // The points in order of concentration (file order among replicates), so
  // that B0 is the bound fraction without or with least competitor whatever
  // the order of the file.
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return x_in[a] < x_in[b]; });
  std::vector<double> x(n), y(n);
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = x_in[order[i]];
    y[i] = y_in[order[i]];
  }
  line.B0 = y[0];

  // The range of positive concentrations (a first point without competitor
  // is common); the IC50 is kept inside it.
  const auto first_positive = std::upper_bound(x.begin(), x.end(), 0.0);
  const double lowest = first_positive == x.end() ? 0.0 : *first_positive;
  const double highest = first_positive == x.end() ? 0.0 : x.back();
  const double middle = std::sqrt(lowest * highest);

  const double floor = std::max(0.01 * line.B0, *std::min_element(y.begin(), y.end()));
  std::vector<double> log_x, log_ratio;
  for (std::size_t i = 0; i < n; ++i) {
    if (!(x[i] > 1e-30 && y[i] > floor && y[i] < line.B0)) continue;
    log_x.push_back(std::log10(x[i]));
    log_ratio.push_back(std::log10(line.B0 / y[i] - 1.0));
  }
  const int used = static_cast<int>(log_x.size());
  const Straight_line fit = fit_straight_line(log_x.data(), log_ratio.data(), used);
  if (used < 3 || !fit.formed) {
    line.IC50 = middle;
    return line;
  }
  const double h = fit.slope;
  line.IC50 = std::abs(h) > 1e-10 ? std::pow(10.0, -fit.intercept / h) : middle;
  line.hill = h < 0.3 ? 0.6 : h > 3.0 ? 1.5 : h;
  if (line.IC50 < lowest) line.IC50 = 5.0 * lowest;
  if (line.IC50 > highest) line.IC50 = highest / 5.0;
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
    const Logistic_line line = fit_logistic_competition(x, y);
    console.exact("   B0 (max B/T): " + fmt_f(line.B0, 8, 4));
    console.exact("   Bmax: " + fmt_es(bmax, 12, 5) + " [M]");
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
