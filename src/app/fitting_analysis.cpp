#include "app/fitting_analysis.hpp"

#include <string>

#include "app/output_file.hpp"
#include "data/assay.hpp"
#include "data/curve_reader.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

// The state of one analysis, from its first prompt to its closing.
struct Analysis {
  Console& console;
  Curve_table& curves;
  Fit_parameters& params;
  Optimization_data& opt;
  Fit_results& results;
  std::string stem;
  Output_file out;        // stem + ".out"
  Output_file plot;       // stem + "_Plot.out"
  Output_file scatchard;  // stem + "_Scatchard.out"
  bool all_saturation = true;
  int pass = 0;
};

void report_file_error(Console& console, const std::string& name) {
  console.exact("ERROR: Cannot create file " + name);
  console.exact("       (check that the folder exists and is writable); analysis ended.");
}

// Steps 1-2: the stem and the two files every analysis writes. False when the
// input ended at the prompt or a file cannot be created (nothing is left).
bool open_output_files(Analysis& a) {
  a.console.empty_line();
  a.console.prompt("ENTER OUTPUT DATA FILE NAME, E.G., MY_RESULTS (NO EXTENSION): ");
  const auto answer = a.console.read_line(file_name_length);
  if (!answer) {
    a.console.end_line();
    return false;
  }
  a.stem = std::string(trim(*answer));
  if (a.stem.empty()) a.stem = "My_results";

  if (!a.plot.create(a.stem + "_Plot.out")) {
    report_file_error(a.console, a.plot.name());
    return false;
  }
  if (!a.out.create(a.stem + ".out")) {
    report_file_error(a.console, a.out.name());
    a.plot.discard();
    return false;
  }
  const std::string header_rule = " " + rule('=', 45);
  a.out.stream() << header_rule << '\n'
                 << "     KELVORA Analysis Results\n"
                 << header_rule << '\n'
                 << " \n";
  return true;
}

// Steps 3-7: read and order the curves. False when a file cannot be created.
bool read_curves(Analysis& a) {
  a.params.name.fill("*");
  a.params.n_points = 0;
  read_input_files(a.console, a.curves, a.params);

  bool any_saturation_like = false;
  for (int i = 0; i < a.params.n_curves; ++i) {
    if (!is_competition_assay(a.curves[i], a.params)) any_saturation_like = true;
  }
  if (any_saturation_like && !a.scatchard.create(a.stem + "_Scatchard.out")) {
    report_file_error(a.console, a.scatchard.name());
    a.out.discard();
    a.plot.discard();
    deallocate_all_curves(a.curves, a.params.n_curves);
    return false;
  }
  reorder_curves_saturation_first(a.console, a.curves, a.params);
  a.results.n_blocks = 0;
  a.pass = 0;
  a.all_saturation = all_saturation_curves(a.curves, a.params);
  return true;
}

// Steps 44-47: close the files, name them, run the competition analysis when
// some curve is not a saturation curve, release the curves.
void close_analysis(Analysis& a) {
  a.plot.close();
  a.out.close();
  a.console.empty_line();
  a.console.free_form("Receptor binding analysis complete.");
  a.console.free_form("Results saved to: " + a.stem + ".out");
  a.console.free_form("Plotting data saved to: " + a.stem + "_Plot.out");
  if (a.all_saturation) {
    a.console.free_form("Graphing data saved to: " + a.stem + "_Scatchard.out");
  } else {
    a.console.free_form("Competition data saved to: " + a.stem + "_Competition.out");
  }
  a.console.empty_line();
  if (!a.all_saturation) {
    Output_file competition;
    if (competition.create(a.stem + "_Competition.out")) {
      competition.close();
    } else {
      report_file_error(a.console, competition.name());
    }
  }
  deallocate_all_curves(a.curves, a.params.n_curves);
  a.scatchard.close();
}

}  // namespace

void run_fitting_analysis(Console& console, Curve_table& curves, Fit_parameters& fit_params,
                          Optimization_data& opt_data, Fit_results& results) {
  Analysis a{console, curves, fit_params, opt_data, results, {}, {}, {}, {}, true, 0};
  if (!open_output_files(a)) return;
  if (!read_curves(a)) return;
  close_analysis(a);
}

}  // namespace kelvora
