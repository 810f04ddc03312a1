#pragma once
// One analysis of main-menu choice 1, from the output stem to the closing.

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/records.hpp"
#include "data/units.hpp"
#include "params/scripted_setup.hpp"
#include "plot/curve_plot.hpp"

namespace kelvora {

class Console;

// The plot of each fitted curve goes where `plots` says; a window that
// cannot be opened turns it into PNG files for the rest of the session.
// `command_line` is recorded in the result files.
void run_fitting_analysis(Console& console, Curve_table& curves, Fit_parameters& fit_params,
                          Fit_outcome& outcome, Fit_results& results, Plot_mode& plots,
                          const std::string& command_line = "kelvora");

// What an analysis without a dialogue is told instead (`kelvora fit`).
struct Fit_settings {
  std::vector<std::string> curves;  // paths, with or without .CRV
  std::string stem;                 // empty: the first curve's path without .CRV
  int sites = 1;
  // Fit the other number of sites first and compare the two fits; the fit
  // of `sites` comes last and is the one the results describe.
  bool compare = false;
  // The constants, with their values where given; none: the default list.
  std::optional<std::vector<Named_value>> hold;
  std::vector<Named_value> start;  // starting values of fitted parameters
  bool estimates = true;           // automatic estimates for the rest
  int bootstrap = 100;             // replicates; 0 runs none
  // The unit of curve files that do not name theirs; none: M.
  std::optional<Concentration_unit> units;
};

// Settings or input that the analysis cannot take: the reason, in one line.
class Fit_refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Runs the analysis of choice 1 as a user who accepts every default would,
// with `settings` in place of the answers, then closes it: reading,
// reordering, model, estimates, the minimiser sequence, bootstrap, reports
// and files, and no second pass (but the two of a comparison). Returns 0, or
// 1 when a fit did not converge (its sum of squares is not a number). Raises
// Fit_refused for settings it cannot take (before anything is written) and
// for result files it could not write, Orderly_stop when a curve file is
// refused, and Interrupted once the results of an interrupted fit are written.
int run_scripted_analysis(Console& console, Curve_table& curves, Fit_parameters& fit_params,
                          Fit_outcome& outcome, Fit_results& results, Plot_mode& plots,
                          const std::string& command_line, const Fit_settings& settings);

}  // namespace kelvora
