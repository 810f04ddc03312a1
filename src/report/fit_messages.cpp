#include "report/fit_messages.hpp"

#include "stats/fit_statistics.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

void print_variance(Console& console, const Fit_parameters& p, double ss) {
  console.exact(" Residual Variance (MSE) = " +
                fmt_es(fit_statistics(p.n_points, p.n_var, ss).mse, 12, 5));
}

}  // namespace

void print_fit_heading(Console& console, const Fit_parameters& p, double ss_start) {
  console.free_form(rule('=', 45));
  console.free_form("  KELVORA LIGAND BINDING ANALYSIS");
  console.free_form("  Method of analysis:");
  console.free_form("    Anal. Biochem. 107, 220-239 (1980)");
  console.free_form("  General binding model:");
  console.free_form("    Anal. Biochem. 48, 317-338 (1972)");
  console.free_form(rule('=', 45));
  console.empty_line();
  console.empty_line();
  console.free_form(rule('=', 57));
  console.free_form("  SIMPLEX, MARQUARDT & CONJUGATE GRADIENT OPTIMIZATION");
  console.free_form("  Simplex: Comput. J. 7, 308-313 (1965)");
  console.free_form("  Damped least squares: J. Soc. Indust. Appl. Math. 11, 431-441 (1963)");
  console.free_form("  Damped least squares: Q. Appl. Math. 2, 164-168 (1944)");
  console.free_form("  Conjugate gradients: Comput. J. 7, 149-154 (1964)");
  console.free_form(rule('=', 58));
  console.empty_line();
  console.exact(" Initial sum of squares: " + fmt_es(ss_start, 12, 5));
  print_variance(console, p, ss_start);
}

void print_fit_completion(Console& console, const Fit_parameters& p, double ss_start, double ss,
                          const std::vector<std::string>& warning) {
  console.empty_line();
  console.free_form(rule('=', 41));
  console.exact(p.n_curves == 1 ? " COMPLETED SINGLE-CURVE OPTIMIZATION"
                                : " COMPLETED MULT-CURVE OPTIMIZATION");
  if (ss_start > 0.0) {
    const double improvement = (ss_start - ss) * 100.0 / ss_start;
    console.exact(" SSQ = " + fmt_es(ss, 12, 5) + " (" + fmt_f(improvement, 6, 1) +
                  "% improvement)");
  } else {
    console.exact(" SSQ = " + fmt_es(ss, 12, 5) + " (it was 0 at the start)");
  }
  print_variance(console, p, ss);
  console.free_form(rule('=', 41));
  console.empty_line();
  for (const std::string& line : warning) console.exact(line);
  if (!warning.empty()) console.empty_line();
}

void print_not_a_number(Console& console, const Fit_parameters& p) {
  console.empty_line();
  console.exact("ERROR: The sum of squares is not a number at these parameter values:");
  std::string line;
  for (int i = 0; i < p.n_params; ++i) {
    const std::string item = std::string(trim_right(p.name[i])) + " = " + fmt_es(p.value[i], 12, 4);
    if (line.size() + item.size() > 66) {
      console.exact("      " + line);
      line.clear();
    }
    line += (line.empty() ? "" : ", ") + item;
  }
  if (!line.empty()) console.exact("      " + line);
  console.exact("       Nothing of this fit is written. Check the constants and the starting");
  console.exact("       values; returning to the set-up.");
}

void print_ratio_only(Console& console, const Fit_parameters& p,
                      const std::vector<Ratio_only>& ratio_only) {
  for (const Ratio_only& group : ratio_only) {
    for (const int k : group.k_slots)
      console.free_form("Only " + group.ratio(p, k) + " is determined by these data");
  }
}

}  // namespace kelvora
