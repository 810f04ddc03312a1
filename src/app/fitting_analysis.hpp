#pragma once
// One analysis of main-menu choice 1, from the output stem to the closing.

#include <string>

#include "data/records.hpp"
#include "plot/curve_plot.hpp"

namespace kelvora {

class Console;

// The plot of each fitted curve goes where `plots` says; a window that
// cannot be opened turns it into PNG files for the rest of the session.
// `command_line` is recorded in the result files.
void run_fitting_analysis(Console& console, Curve_table& curves, Fit_parameters& fit_params,
                          Fit_outcome& outcome, Fit_results& results, Plot_mode& plots,
                          const std::string& command_line = "kelvora");

}  // namespace kelvora
