#pragma once
// Bootstrap standard errors of the fitted parameters: the drivers that refit
// the resamples of an analysis with the program's minimisers, and the reports
// of the result. The refits work on private copies, so the analysis's curves
// and parameter record are left as they are; the drivers write only the
// standard errors, the percentile intervals and whether the data determine
// the parameters (data_determinacy) into Fit_outcome.

#include <span>
#include <string>
#include <vector>

#include "data/records.hpp"
#include "stats/bootstrap_engine.hpp"
#include "util/console.hpp"
#include "util/random.hpp"

namespace kelvora {

// Both drivers run the engines of bootstrap_engine.hpp on `rng` as the caller
// seeded it; every replicate's tunnel move draws from the replicate's own
// generator after `before_tunnel`, which replicates on several threads apply
// at once.
//
// One curve: the pooled points (x the varying ligand's total, y bound, r
// replicate count) are resampled and each resample is refitted by
// fit_wrapper.
Bootstrap_results calculate_bootstrap_se_kelvora(Console& console, Curve_table& curves,
                                                 const Fit_parameters& fit_params,
                                                 Fit_outcome& opt, int B,
                                                 Random_generator& rng,
                                                 const Seeding& before_tunnel);

// Two or more curves: each replicate resamples every curve on its own
// (stratified by curve) and refits them jointly with fit_wrapper_multi; the
// replicates' vectors are in the result's samples (see bootstrap_samples_text).
Bootstrap_results calculate_bootstrap_se_kelvora_multi(Console& console, Curve_table& curves,
                                                       const Fit_parameters& fit_params,
                                                       Fit_outcome& opt, int B,
                                                       Random_generator& rng,
                                                       const Seeding& before_tunnel);

// The curve of a single-curve resample: the ligands and weighting of
// `first`, and for each row of `sample` the varying ligand's total, the bound
// ligand and the replicate count (the ligands that do not vary
// keep the totals of the first point of `first`). Refitting it weighs each
// point by its own replicate count, w = r / variance(Yhat).
void fill_resampled_curve(const Curve_data& first, const Point_columns& sample, Curve_data& curve);

// The refit of a single-curve resample: a one-curve set filled by
// fill_resampled_curve from the first curve, the variables loaded from
// params, then the tunnel move (drawing from rng after before_tunnel),
// simplex (100), Levenberg-Marquardt (100, 200). Converged when the final SS
// is at most twice the SS at the start; params then holds the refitted
// variables.
bool fit_wrapper(const Curve_table& curves, const Fit_parameters& fit_params,
                 const Point_columns& sample, std::vector<double>& params, Random_generator& rng,
                 const Seeding& before_tunnel);

// The refit of a multi-curve replicate: every curve resampled from rng as it
// stands, in curve order (whole rows: all totals, bound, replicates),
// then the refit of fit_wrapper on the resampled set.
bool fit_wrapper_multi(const Curve_table& curves, const Fit_parameters& fit_params,
                       std::vector<double>& params, Random_generator& rng,
                       const Seeding& before_tunnel);

// The parameter table (value, standard error, CV, interval), under it the
// note of wide_error_note when it has one, and the fit's SSQ, MSE, AIC and
// degrees of freedom. When opt.determinacy says the data do not determine the
// parameters, the rows give the values alone and the warning of
// determinacy_warning stands under the table instead of the note.
void print_bootstrap_results_kelvora(Console& console, const Fit_parameters& fit_params,
                                     const Fit_outcome& opt,
                                     const Bootstrap_results& results);

// The note under a parameter table that names the variable parameters whose
// bootstrap standard error exceeds the width of their 95 % interval (se,
// ci_lower and ci_upper by variable number): a few outlying replicates
// inflate the standard deviation but hardly move the percentiles, so the
// interval is the better guide. Two lines, or none when no parameter has
// such an error.
std::vector<std::string> wide_error_note(const Fit_parameters& params, std::span<const double> se,
                                         std::span<const double> ci_lower,
                                         std::span<const double> ci_upper);

// The samples file: a header line naming the variables, then one row per
// replicate (its number and its refitted variables, NaN for a failed refit
// or one that an interruption left undone).
std::string bootstrap_samples_text(const Bootstrap_results& results,
                                   const Fit_parameters& fit_params);

}  // namespace kelvora
