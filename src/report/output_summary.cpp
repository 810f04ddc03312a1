#include <algorithm>
#include <cmath>
#include <ostream>

#include "params/parameter_vector.hpp"
#include "report/results.hpp"
#include "stats/bootstrap_se.hpp"
#include "stats/fit_statistics.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

void write_output_summary(std::ostream& out, const Fit_parameters& params,
                          const Fit_outcome& opt, const std::vector<Ratio_only>& ratio_only) {
  const std::string heading_rule = " " + rule('=', 41);
  out << '\n' << heading_rule << "\n      FINAL PARAMETER ESTIMATES\n" << heading_rule << "\n\n";
  const int n_var = params.n_var;
  // Errors and intervals of parameters the data do not determine would be
  // zero-width: only the values are written, under a warning.
  const bool determined = opt.determinacy == Determinacy::determined;
  for (int slot = 0; slot < params.n_params; ++slot) {
    const std::string name = fmt_left(params.name[slot], 10);
    const double value = params.value[slot];
    out << name << " = " << fmt_es(value, 14, 6);
    const int v = params.var_of_param[slot];
    if (params.is_constant[slot]) {
      out << " (FIXED)\n";
      continue;
    }
    if (v < 0 || v >= n_var) {
      out << '\n';
      continue;
    }
    const bool affinity = !params.name[slot].empty() && params.name[slot][0] == 'K' && value > 0.0;
    // No standard error (data that determine nothing, a bootstrap cut short
    // before it had enough replicates): the value alone.
    if (!determined || !std::isfinite(opt.se[v])) {
      out << '\n';
      if (affinity) out << "          (Kd = " << fmt_es(1.0 / value, 14, 6) << " [M])\n";
    } else {
      const double se = opt.se[v];
      const double cv = std::abs(value) > 1e-30 ? 100.0 * se / std::abs(value) : 0.0;
      out << " +/- " << fmt_es(se, 11, 3);
      if (cv >= 999.9 || std::isnan(cv)) {
        out << " (>999 %)\n";
      } else {
        out << " (" << fmt_f(cv, 7, 2) << " %)\n";
      }
      if (affinity) {
        // Kd = 1/K, and to first order SE(Kd) = SE(K) / K^2.
        out << "          (Kd = " << fmt_es(1.0 / value, 14, 6) << " +/- "
            << fmt_es(se / (value * value), 11, 3) << " [M])\n";
      }
      if (opt.has_intervals) {
        out << "          (95% CI = " << fmt_es(opt.ci_lower[v], 14, 6) << " to "
            << fmt_es(opt.ci_upper[v], 14, 6) << ")\n";
      }
    }
    for (const Ratio_only& group : ratio_only) {
      if (std::find(group.k_slots.begin(), group.k_slots.end(), slot) != group.k_slots.end())
        out << "          (only " << group.ratio(params, slot) << " is determined by these data)\n";
    }
  }
  if (!determined) {
    out << determinacy_warning(opt.determinacy) << '\n';
  } else if (opt.has_intervals) {
    for (const std::string& line : wide_error_note(params, opt.se, opt.ci_lower, opt.ci_upper))
      out << ' ' << line << '\n';
  }
  // MSE and AIC show N/A where they are not defined: without degrees of
  // freedom (N <= P) there is no variance to estimate, and a zero S has no
  // logarithm.
  const Fit_statistics stats = fit_statistics(params.n_points, n_var, opt.ss);
  out << '\n'
      << "SUM OF SQUARED RESIDUALS (SSQ) = " << fmt_es(stats.ss, 14, 6) << '\n'
      << "RESIDUAL VARIANCE (MSE) = " << fmt_es(stats.mse, 14, 6) << '\n'
      << "AKAIKE INFORMATION CRITERION (AIC) = " << fmt_es(stats.aic, 14, 6) << '\n'
      << "DEGREES OF FREEDOM = " << fmt_i(stats.df, 4) << "\n\n";
}

std::vector<std::string> print_poorly_determined(Console& console, const Fit_parameters& params,
                                                 const Fit_outcome& opt) {
  std::vector<std::string> lines;
  for (int slot = 0; slot < params.n_params; ++slot) {
    const int v = params.var_of_param[slot];
    if (params.is_constant[slot] || v < 0 || v >= params.n_var) continue;
    if (opt.se[v] > std::abs(params.value[slot])) {
      lines.push_back(params.name[slot] + " is poorly determined by these data");
      console.free_form(lines.back());
    }
  }
  return lines;
}

void print_bound_warnings(Console& console, const Fit_parameters& params) {
  for (int slot = 0; slot < params.n_params; ++slot) {
    const std::string& name = params.name[slot];
    if (params.is_constant[slot] || name.empty()) continue;
    const auto range = admissible_range(name[0]);
    if (!range) continue;
    const double value = params.value[slot];
    // "At" a bound: within 1e-6 relative of a non-zero bound, within 1e-12
    // absolute of a zero one. A zero bound has no scale of its own, and the
    // width of the range is none either: N1 = 1e-10 is small, not at 0.
    auto at = [&](double bound) {
      const double tolerance = bound != 0.0 ? 1e-6 * std::abs(bound) : 1e-12;
      return std::abs(value - bound) <= tolerance;
    };
    if (at(range->lower) || at(range->upper)) {
      console.exact("WARNING: " + std::string(trim_right(name)) + " = " + fmt_es(value, 12, 5) +
                    " is at its bound; the data do not determine it.");
    }
  }
}

}  // namespace kelvora
