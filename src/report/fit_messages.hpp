#pragma once
// What the console shows around a fit: the heading before the minimisers
// start, the figures when they are done, and what a fit that failed or
// cannot separate its parameters leaves to say.

#include <string>
#include <vector>

#include "data/assay.hpp"
#include "data/records.hpp"

namespace kelvora {

class Console;

// The sources of the method and of the minimisers, then the sum of squares
// at the starting values and its residual variance.
void print_fit_heading(Console& console, const Fit_parameters& params, double ss_start);

// The sum of squares the fit reached, with its improvement on `ss_start`,
// and its residual variance; then the lines of `warning`, if any, and an
// empty line after them.
void print_fit_completion(Console& console, const Fit_parameters& params, double ss_start,
                          double ss, const std::vector<std::string>& warning);

// Names the values at which the sum of squares is not a number, and says
// that nothing of the fit is kept.
void print_not_a_number(Console& console, const Fit_parameters& params);

// One line for every affinity of `ratio_only`: only its ratio is determined.
void print_ratio_only(Console& console, const Fit_parameters& params,
                      const std::vector<Ratio_only>& ratio_only);

}  // namespace kelvora
