#pragma once
// The result reports of a fit: the detailed per-point table on the console
// and the output summary appended to the main results file.

#include <iosfwd>
#include <string>
#include <vector>

#include "data/assay.hpp"
#include "data/records.hpp"

namespace kelvora {

class Console;

// For every curve and point: log10 of the varying ligand's total, observed
// and predicted bound/total of the labelled ligand, their difference and a
// text plot of it (one column per 0.01 of bound fraction).
void print_detailed_results(Console& console, const Curve_table& curves,
                            const Fit_parameters& params, const Fit_outcome& opt);

// A plot line of `width` columns: "|" at the middle column, "*" at the middle
// plus the difference in hundredths (rounded half away from zero), kept
// within the line.
std::string make_residual_plot(double value, int width = 40);

// The final parameter table (value, standard error, coefficient of
// variation, Kd of affinities, and the 95 % bootstrap interval when there is
// one) and the goodness-of-fit figures. An affinity of `ratio_only` gets a
// line saying that only its ratio is determined. With intervals, the table is
// followed by the note of wide_error_note (bootstrap_se.hpp) when a standard
// error exceeds the width of its interval. When opt.determinacy says the data
// do not determine the parameters, the table gives the values alone and the
// warning of determinacy_warning follows it.
void write_output_summary(std::ostream& out, const Fit_parameters& params,
                          const Fit_outcome& opt,
                          const std::vector<Ratio_only>& ratio_only = {});

// One note line for every fitted parameter whose bootstrap coefficient of
// variation exceeds 100 %; returns the lines.
std::vector<std::string> print_poorly_determined(Console& console, const Fit_parameters& params,
                                                 const Fit_outcome& opt);

// A warning for every variable parameter that ended at a bound of the
// admissible range of its kind (within 1e-6 relative of a non-zero bound,
// 1e-12 absolute of a zero one): there the fit was stopped by the bound, not
// by the data.
void print_bound_warnings(Console& console, const Fit_parameters& params);

}  // namespace kelvora
