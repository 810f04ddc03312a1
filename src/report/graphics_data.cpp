#include "report/graphics_data.hpp"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "stats/fit_statistics.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

// Below this a concentration counts as zero on the log axis.
constexpr double min_log_total = 1e-14;

struct Plot_row {
  double log_total;
  double observed;
  double predicted;
};

// Log total of the varying ligand and the bound/total ratios of point j. The
// ratios are taken against the labelled ligand's total: the fixed hot
// concentration of the first point on a competition curve, the varying
// concentration itself on a saturation curve.
Plot_row plot_row(const Curve_data& curve, const Curve_prediction& fit, int j, bool competition) {
  double x = curve.total_of(j, curve.varying_ligand);
  // The first point of a competition curve is usually the one without
  // competitor: it stands at log 10^-14 with its real ratios.
  if (competition && j == 0 && x < min_log_total) x = min_log_total;
  if (x < min_log_total) return {-14.0, 0.0, 0.0};
  const double hot = competition ? curve.total_of(0, curve.labelled_ligand) : x;
  return {std::log10(x), std::max(min_log_total, curve.bound[j]) / hot,
          std::max(min_log_total, fit.predicted[j]) / hot};
}

void write_curve_heading(std::ostream& out, const Curve_data& curve, const Fit_parameters& params) {
  out << "HOT (varying), HOT (labeled):\n"
      << fmt_i(curve.varying_ligand, 4) << fmt_i(curve.labelled_ligand, 4) << '\n'
      << "Data points: " << fmt_i(curve.n_points, 6) << '\n'
      << "Number of receptor sites: " << fmt_i(params.n_sites, 2) << '\n';
}

}  // namespace

Curve_plot make_curve_plot(const Curve_table& curves, int c, const Fit_parameters& params,
                           const Fit_outcome& opt) {
  const Curve_data& curve = curves[c];
  const bool competition = is_competition_assay(curve, params);
  Curve_plot plot;
  for (int j = 0; j < curve.n_points; ++j) {
    const Plot_row row = plot_row(curve, opt.fitted[c], j, competition);
    if (row.observed > 0.0 && row.predicted > 0.0) {
      plot.log_total.push_back(row.log_total);
      plot.observed.push_back(row.observed);
      plot.predicted.push_back(row.predicted);
    }
  }
  const std::string kind = competition ? ": Competition" : ": Saturation";
  std::string statistic;
  if (params.n_sites == 1) {
    statistic = "Kd1 [M] =" + fmt_es(1.0 / params.value[0], 12, 4);
  } else {
    const double aic = fit_statistics(params.n_points, params.n_var, opt.ss).aic;
    statistic = std::isnan(aic) ? "AIC = N/A" : "AIC =" + fmt_es(aic, 12, 4);
  }
  plot.legend = {fmt_left(std::string(trim_right(curve.file_name)) + kind, 30),
                 fmt_left("SSQR =" + fmt_es(opt.ss, 12, 4), 30), fmt_left(statistic, 30),
                 blanks(30), blanks(30)};
  return plot;
}

void plot_graphics_data(std::ostream& out, const Curve_table& curves, const Fit_parameters& params,
                        const Fit_outcome& opt, Fit_results& results, const Plot_sink& show) {
  results.n_blocks = 0;
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    const bool competition = is_competition_assay(curve, params);
    ++results.n_blocks;
    out << '\n'
        << trim_right(curve.file_name) << ", FIT NO. " << fmt_i(results.n_blocks, 4) << '\n';
    write_curve_heading(out, curve, params);
    out << '\n'
        << blanks(2) << "Log(Total)(M)" << blanks(9) << "B/T_obs" << blanks(9) << "B/T_pred"
        << blanks(9) << '\n';
    for (int j = 0; j < curve.n_points; ++j) {
      const Plot_row row = plot_row(curve, opt.fitted[c], j, competition);
      out << fmt_es(row.log_total, 16, 8) << ' ' << fmt_es(row.observed, 16, 8) << ' '
          << fmt_es(row.predicted, 16, 8) << " \n";
    }
    if (show) {
      // The block reaches the file before a plot window holds the session.
      out.flush();
      show(c, make_curve_plot(curves, c, params, opt));
    }
  }
}

void save_graphics_data_cl(Console& console, std::ostream& out, const Curve_table& curves,
                           const Fit_parameters& params, const Fit_outcome& opt,
                           Fit_results& results) {
  results.n_blocks = 0;
  const Fit_statistics stats = fit_statistics(params.n_points, params.n_var, opt.ss);
  const double t = student_t_quantile(0.975, stats.df);
  const char* const columns[] = {"Total_Ligand(M) ", "Bound_Ligand(M) ", "Bound_Spec(M)   ",
                                 "Bound_pred(M)   ", "Bound_Sp_pred(M)", "B_Spec/F_obs    ",
                                 "B_Spec/F_pred   ", "95%_B/F_Lower_CL", "95%_B/F_Upper_CL",
                                 "NonSpec_x_Free  "};
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    if (is_competition_assay(curve, params)) continue;
    ++results.n_blocks;
    out << "\n"
        << rule('=', 39) << "\nSATURATION ASSAY ANALYSIS\n"
        << trim_right(curve.file_name) << ", CURVE NO. " << fmt_i(results.n_blocks, 4) << '\n'
        << rule('=', 39) << "\n\n";
    write_curve_heading(out, curve, params);
    out << "SSQ Residuals: " << fmt_es(opt.ss, 12, 5) << '\n'
        << "Residual Variance (MSE) = " << fmt_es(stats.mse, 12, 5) << '\n'
        << "t-value for 95% CI: " << fmt_f(t, 6, 3) << "\n\n"
        << blanks(2);
    for (const char* column : columns) out << fmt_a(column, 16) << blanks(2);
    out << '\n';

    // The nonspecific binding of the labelled ligand h on this curve is
    // C N(h) F (C the curve's correction factor), so its ratio is NS = C N(h)
    // with the standard error C se(N(h)); C is taken as known. The standard
    // errors are kept by variable number, so N(h)'s own variable number is
    // looked up; a constant N(h) has no error.
    const int place = n_slot(params, curve.labelled_ligand) + 1;  // 1-based
    double ns = 0.0;
    double s_ns = 0.0;
    if (place > max_params) {
      console.exact("WARNING: NS parameter index " + fmt_i(place, 4) +
                    " exceeds parameter array size " + fmt_i(max_params, 4));
    } else {
      const double correction = params.value[c_slot(params, c + 1)];
      ns = curve_nonspecific_ratio(params, c + 1, curve.labelled_ligand);
      const int v = params.var_of_param[place - 1];
      if (!params.is_constant[place - 1] && v >= 0 && v < params.n_var)
        s_ns = correction * opt.se[v];
      if (s_ns < 0.0) {
        console.exact("WARNING: Negative NS standard error " + fmt_es(s_ns, 12, 4) +
                      " - setting to zero!");
        s_ns = 0.0;
      }
      if (ns < 0.0) {
        console.exact("WARNING: Negative NS constant " + fmt_es(ns, 12, 4) + " - setting to zero!");
        ns = 0.0;
      }
    }

    for (int j = 0; j < curve.n_points; ++j) {
      const double total = curve.total_of(j, curve.varying_ligand);
      const double bound = curve.bound[j];
      const double predicted = opt.fitted[c].predicted[j];
      const double free_obs = std::max(1e-20, total - bound);
      const double free_pred = std::max(1e-20, total - predicted);
      const double spec_obs = bound - ns * free_obs;
      const double spec_pred = predicted - ns * free_pred;
      if (spec_obs < 0.0 || spec_pred < 0.0) {
        out << "  n/a  (negative specific binding, NS may be overestimated)\n";
        continue;
      }
      const double bf_obs = spec_obs / free_obs;
      const double bf_pred = spec_pred / free_pred;
      double lower = bf_obs;
      double upper = bf_obs;
      if (opt.fitted[c].weight[j] > 1e-20) {
        // The delta method. With the measured bound Bo (variance sigma^2 =
        // 1/w), Fo = T - Bo and So = Bo - NS Fo,
        //   B/F = So/Fo = Bo/(T - Bo) - NS,
        //   d(B/F)/dBo = T/Fo^2,   d(B/F)/dNS = -1,
        // and Bo and NS taken as independent,
        //   Var(B/F) = sigma^2 T^2/Fo^4 + sNS^2.
        const double var_b = 1.0 / opt.fitted[c].weight[j];
        const double slope = total / (free_obs * free_obs);
        const double half_width = t * std::sqrt(var_b * slope * slope + s_ns * s_ns);
        lower = bf_obs - half_width;
        upper = bf_obs + half_width;
      }
      // A ratio of concentrations is not negative.
      if (lower < 0.0) lower = 0.0;
      for (const double item : {total, bound, spec_obs, predicted, spec_pred, bf_obs, bf_pred,
                                lower, upper, ns * free_obs}) {
        out << fmt_es(item, 16, 8) << blanks(2);
      }
      out << '\n';
    }
  }
}

}  // namespace kelvora
