#pragma once
// The nonparametric bootstrap: resample the data points with replacement,
// refit every resample from the fitted values, and summarise the refitted
// values of each parameter by mean, standard deviation (the bootstrap
// standard error), median and a 95 % percentile interval.
//   Bootstrap method: Efron, Ann. Statist. 7, 1-26 (1979).
//
// The engines know nothing of binding models or minimisers: the refit is a
// callable. Replicates are independent and run in parallel; replicate b draws
// from a generator of its own (stream b of the run), so that its resample and
// its refit are the same whatever the number of threads and the order in
// which the replicates finish. The streams follow from one draw of the
// generator the caller hands over, seeded as the caller chose.

#include <functional>
#include <vector>

#include "data/records.hpp"
#include "util/console.hpp"
#include "util/random.hpp"

namespace kelvora {

// One bootstrap run with B replicates of P variable parameters.
struct Bootstrap_results {
  std::vector<double> mean;       // [P]
  std::vector<double> std_error;  // [P], divisor count - 1
  std::vector<double> median;     // [P]
  std::vector<double> ci_lower;   // [P], 2.5th percentile
  std::vector<double> ci_upper;   // [P], 97.5th percentile
  // [B][P]: the refitted variables of replicate b, all NaN when it failed.
  std::vector<std::vector<double>> samples;
  int n_converged = 0;
  int n_failed = 0;
  // Replicates that an interruption left undone (their rows stay NaN).
  int n_not_run = 0;
};

// An interrupted bootstrap gives standard errors and intervals only when at
// least this many replicates converged; with fewer they would be noise.
constexpr int min_replicates_after_interruption = 20;

// The program seeds the generator of a multi-curve bootstrap with this fixed
// seed (the same resamples every run) and that of a single-curve one from the
// clock.
constexpr Random_generator::Seed multicurve_seed = {1979u, 7u, 1u, 26u};

// idx[i] (0-based point numbers) for i < n, drawn uniformly with replacement:
// idx = truncate(n r), clamped to 0..n-1, r from `uniform` (on [0, 1)).
void generate_bootstrap_indices(int n, std::vector<int>& idx,
                                const std::function<double()>& uniform);
void generate_bootstrap_indices(int n, std::vector<int>& idx, Random_generator& rng);

// Fills mean, std_error, median, ci_lower and ci_upper (P entries each) from
// the rows of `samples`. NaN values are skipped; infinities count as values.
// A parameter without values gets NaN everywhere; with one value its
// std_error is NaN.
void calculate_bootstrap_statistics(Bootstrap_results& results, int P);

// The points of a single-curve bootstrap, column by column (entry i belongs
// to point i): the varying ligand's total x, the bound ligand y, the weight w
// and the replicate count r. A resample draws whole rows, so that every point
// keeps its own replicate count and with it its weight r / variance.
struct Point_columns {
  std::vector<double> x, y, r;
  // The number of complete rows: the length of the shortest column.
  int rows() const;
};

// The refit of a single-curve resample: the resampled rows and the starting
// values in params; returns whether the refit converged, with the refitted
// values in params. `rng` is the replicate's own generator.
using Point_refit = std::function<bool(const Point_columns& sample, std::vector<double>& params,
                                       Random_generator& rng)>;

// The refit of a multi-curve replicate: it draws its own resample, curve by
// curve, from `rng`.
using Curve_refit = std::function<bool(const Curve_table& curves, const Fit_parameters& fit_params,
                                       std::vector<double>& params, Random_generator& rng)>;

// Both engines stop starting replicates once an interruption is requested
// (see util/interruption.hpp); the replicates already started finish.
//
// Single-curve engine: draws the run's streams from `rng` as it stands,
// resamples the rows of `points` B times and refits each resample from
// start_params. A replicate counts as failed when its refit does not converge
// or leaves a value that is not finite. When verbose, prints the heading, a
// progress line after every max(B / 10, 1)-th finished replicate, and the
// closing lines.
void calculate_bootstrap_se(Console& console, const Point_columns& points,
                            const std::vector<double>& start_params, int B,
                            Bootstrap_results& results, const Point_refit& refit,
                            Random_generator& rng, bool verbose = false);

// Multi-curve engine: draws the run's streams from `rng` as it stands, starts
// every replicate from the fitted variables of fit_params and leaves the
// resampling to the refit. Prints no heading; progress and closing lines as
// above.
void calculate_bootstrap_se_multicurve(Console& console, const Curve_table& curves,
                                       const Fit_parameters& fit_params, int B,
                                       Bootstrap_results& results, const Curve_refit& refit,
                                       Random_generator& rng, bool verbose = false);

}  // namespace kelvora
