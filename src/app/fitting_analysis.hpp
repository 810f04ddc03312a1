#pragma once
// One analysis of main-menu choice 1, from the output stem to the closing.

#include "data/records.hpp"

namespace kelvora {

class Console;

void run_fitting_analysis(Console& console, Curve_table& curves, Fit_parameters& fit_params,
                          Optimization_data& opt_data, Fit_results& results);

}  // namespace kelvora
