#include <cmath>
#include <ostream>

#include "report/results.hpp"
#include "util/fields.hpp"

namespace kelvora {

void write_output_summary(std::ostream& out, const Fit_parameters& params,
                          const Optimization_data& opt) {
  const std::string heading_rule = " " + rule('=', 41);
  out << '\n' << heading_rule << "\n      FINAL PARAMETER ESTIMATES\n" << heading_rule << "\n\n";
  const int n_var = params.n_var;
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
    const double se = opt.se[v];
    const double cv = std::abs(value) > 1e-30 ? 100.0 * se / std::abs(value) : 0.0;
    if (cv >= 999.9 || std::isnan(cv)) {
      out << " +/- " << fmt_es(se, 11, 3) << " (>999 %)\n";
    } else {
      out << " +/- " << fmt_es(se, 11, 3) << " (" << fmt_f(cv, 7, 2) << " %)\n";
    }
    if (!params.name[slot].empty() && params.name[slot][0] == 'K' && value > 0.0) {
      out << "          (Kd = " << fmt_es(1.0 / value, 14, 6) << " +/- "
          << fmt_es(se / (value * value), 11, 3) << " [M])\n";
    }
  }
  const double s = opt.ss;
  const int n = params.n_points;
  const int p = n_var;
  out << '\n'
      << "SUM OF SQUARED RESIDUALS (SSQ) = " << fmt_es(s, 14, 6) << '\n'
      << "RESIDUAL VARIANCE (MSE) = " << fmt_es(s / (n - p), 14, 6) << '\n'
      << "AKAIKE INFORMATION CRITERION (AIC) = "
      << fmt_es(n * std::log(s / (n + 1)) + 2.0 * p, 14, 6) << '\n'
      << "DEGREES OF FREEDOM = " << fmt_i(n - p, 4) << "\n\n";
}

}  // namespace kelvora
