#include <algorithm>
#include <cmath>

#include "report/results.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

std::string make_residual_plot(double value, int width) {
  std::string line(width, ' ');
  const int centre = width / 2;
  line[centre - 1] = '|';
  double offset = std::isnan(value) ? 0.0 : std::round(100.0 * value);  // half away from zero
  offset = std::clamp(offset, -static_cast<double>(width), static_cast<double>(width));
  const int column = std::clamp(static_cast<int>(offset) + centre, 1, width);
  line[column - 1] = '*';
  return line;
}

void print_detailed_results(Console& console, const Curve_table& curves,
                            const Fit_parameters& params, const Fit_outcome& outcome) {
  const std::string heading_rule = rule('=', 64);
  console.free_form(heading_rule);
  console.free_form("                    DETAILED RESULTS");
  console.free_form(heading_rule);
  for (int c = 0; c < params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    console.empty_line();
    console.exact("CURVE: " + curve.file_name);
    console.empty_line();
    console.exact(fmt_a("#", 6) + " " + fmt_a("LOG(TOTAL)", 10) + " " + fmt_a("B/T  ", 10) + " " +
                  fmt_a("B/T-PRED", 10) + " " + fmt_a("DIFF ", 10) + " " +
                  fmt_a("  RESIDUAL PLOT", 20));
    console.exact(rule('-', 80));
    for (int j = 0; j < curve.n_points; ++j) {
      const double varying = curve.total_of(j, curve.varying_ligand);
      const double labelled = curve.total_of(j, curve.labelled_ligand);
      const double log_total = varying > 1e-14 ? std::log10(varying) : -14.0;
      double observed = 0.0;
      double predicted = 0.0;
      if (labelled > 1e-14) {
        observed = curve.bound[j] / labelled;
        predicted = outcome.fitted[c].predicted[j] / labelled;
      }
      const double difference = observed - predicted;
      console.exact(fmt_i(j + 1, 6) + " " + fmt_f(log_total, 10, 3) + " " + fmt_f(observed, 10, 4) +
                    " " + fmt_f(predicted, 10, 4) + " " + fmt_f(difference, 10, 4) + " " +
                    std::string(trim_right(make_residual_plot(difference))));
    }
  }
}

}  // namespace kelvora
