#include "stats/bootstrap_engine.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>

#include "params/parameter_vector.hpp"
#include "util/fields.hpp"
#include "util/order_statistics.hpp"
#include "util/interruption.hpp"
#include "util/parallel.hpp"

namespace kelvora {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr int rule_width = 44;

void reset(Bootstrap_results& results, int B, int P) {
  results = Bootstrap_results{};
  results.samples.assign(static_cast<std::size_t>(std::max(B, 0)),
                         std::vector<double>(static_cast<std::size_t>(P), nan));
}

// One replicate: b (0-based), its own generator, the starting values in
// params; returns whether the refit converged.
using Replicate = std::function<bool(int b, Random_generator& rng, std::vector<double>& params)>;

// Runs the B replicates in parallel. Row b of the samples belongs to
// replicate b alone; the counters and the progress lines are kept under one
// lock, the k-th finished replicate printing when k is a multiple of the step.
void run_replicates(Console& console, const std::vector<double>& start_params, int B,
                    Bootstrap_results& results, const Replicate& replicate, std::uint64_t run_seed,
                    bool repeatable, bool verbose) {
  const int step = std::max(B / 10, 1);
  std::mutex guard;
  int finished = 0;
  parallel_for(B, [&](int b) {
    if (interruption_requested()) return;  // the row stays NaN
    Random_generator rng =
        Random_generator::for_stream(run_seed, static_cast<std::uint64_t>(b), repeatable);
    std::vector<double> params = start_params;
    bool converged = replicate(b, rng, params);
    // A refit that leaves a value that is not finite is no refit: one such
    // row would make the mean and the spread of its column meaningless.
    converged =
        converged && params.size() == start_params.size() &&
        std::all_of(params.begin(), params.end(), [](double v) { return std::isfinite(v); });
    if (converged) results.samples[b] = params;
    const std::lock_guard lock(guard);
    ++(converged ? results.n_converged : results.n_failed);
    ++finished;
    if (verbose && finished % step == 0) {
      console.exact("  Completed " + fmt_i0(finished) + "/" + fmt_i0(B) + " (" +
                    fmt_f(100.0 * finished / B, 5, 1) + "%)");
      console.flush();  // progress is seen as it happens, also through a pipe
    }
  });
  results.n_not_run = B - finished;
}

// The summary statistics; after an interruption only from enough replicates.
void summarise(Bootstrap_results& results, int P) {
  calculate_bootstrap_statistics(results, P);
  if (results.n_not_run > 0 && results.n_converged < min_replicates_after_interruption) {
    for (auto* column : {&results.std_error, &results.ci_lower, &results.ci_upper})
      column->assign(P, nan);
  }
}

// Rows idx of `points`, in that order.
Point_columns rows_of(const Point_columns& points, const std::vector<int>& idx) {
  Point_columns sample;
  for (const auto column :
       {&Point_columns::x, &Point_columns::y, &Point_columns::r}) {
    const std::vector<double>& from = points.*column;
    std::vector<double>& to = sample.*column;
    to.resize(idx.size());
    for (std::size_t i = 0; i < idx.size(); ++i) to[i] = from[idx[i]];
  }
  return sample;
}

void print_closing(Console& console, const Bootstrap_results& results) {
  console.exact(rule('=', rule_width));
  console.exact(" Converged: " + fmt_i0(results.n_converged) +
                " / Failed: " + fmt_i0(results.n_failed));
  if (results.n_not_run > 0) {
    console.exact(" Interrupted: " + fmt_i0(results.n_not_run) + " of " +
                  fmt_i0(static_cast<long long>(results.samples.size())) +
                  " replicates were not run");
    if (results.n_converged < min_replicates_after_interruption)
      console.exact(" Fewer than " + fmt_i0(min_replicates_after_interruption) +
                    " converged replicates: no standard errors or intervals");
  }
  console.exact(rule('=', rule_width));
}

}  // namespace

int Point_columns::rows() const {
  return static_cast<int>(std::min({x.size(), y.size(), r.size()}));
}

void generate_bootstrap_indices(int n, std::vector<int>& idx,
                                const std::function<double()>& uniform) {
  idx.resize(static_cast<std::size_t>(std::max(n, 0)));
  for (int i = 0; i < n; ++i) {
    // truncate(n r) reaches n only when r rounds up to 1 in the product.
    const double draw = std::trunc(n * uniform());
    idx[i] = draw >= n ? n - 1 : draw < 0 ? 0 : static_cast<int>(draw);
  }
}

void generate_bootstrap_indices(int n, std::vector<int>& idx, Random_generator& rng) {
  generate_bootstrap_indices(n, idx, [&rng] { return rng.uniform(); });
}

void calculate_bootstrap_statistics(Bootstrap_results& results, int P) {
  results.mean.assign(P, nan);
  results.std_error.assign(P, nan);
  results.median.assign(P, nan);
  results.ci_lower.assign(P, nan);
  results.ci_upper.assign(P, nan);
  std::vector<double> values;
  for (int j = 0; j < P; ++j) {
    values.clear();
    for (const auto& row : results.samples) {
      if (j < static_cast<int>(row.size()) && !std::isnan(row[j])) values.push_back(row[j]);
    }
    const int m = static_cast<int>(values.size());
    if (m == 0) continue;
    double sum = 0.0;
    for (const double v : values) sum += v;
    const double mean = sum / m;
    double squares = 0.0;
    for (const double v : values) squares += (v - mean) * (v - mean);
    results.mean[j] = mean;
    results.std_error[j] = m > 1 ? std::sqrt(squares / (m - 1)) : nan;
    std::sort(values.begin(), values.end());
    results.median[j] = median_of_sorted(values.data(), m);
    results.ci_lower[j] = percentile(values.data(), m, 2.5);
    results.ci_upper[j] = percentile(values.data(), m, 97.5);
  }
}

void calculate_bootstrap_se(Console& console, const Point_columns& points,
                            const std::vector<double>& start_params, int B,
                            Bootstrap_results& results, const Point_refit& refit,
                            Random_generator& rng, bool verbose) {
  const int P = static_cast<int>(start_params.size());
  const int n = points.rows();
  reset(results, B, P);
  const std::uint64_t run_seed = rng.next_bits();
  if (verbose) {
    console.exact(rule('=', rule_width));
    console.exact(" Bootstrap SE Calculation (" + fmt_i0(B) + " samples)");
    console.exact(rule('=', rule_width));
  }
  const Replicate replicate = [&](int, Random_generator& own, std::vector<double>& params) {
    std::vector<int> idx;
    generate_bootstrap_indices(n, idx, own);
    return refit(rows_of(points, idx), params, own);
  };
  run_replicates(console, start_params, B, results, replicate, run_seed, rng.repeatable(), verbose);
  summarise(results, P);
  if (verbose) print_closing(console, results);
}

void calculate_bootstrap_se_multicurve(Console& console, const Curve_table& curves,
                                       const Fit_parameters& fit_params, int B,
                                       Bootstrap_results& results, const Curve_refit& refit,
                                       Random_generator& rng, bool verbose) {
  const int P = fit_params.n_var;
  std::vector<double> start_params(P);
  read_variables(fit_params, start_params.data());
  reset(results, B, P);
  const std::uint64_t run_seed = rng.next_bits();
  const Replicate replicate = [&](int, Random_generator& own, std::vector<double>& params) {
    return refit(curves, fit_params, params, own);
  };
  run_replicates(console, start_params, B, results, replicate, run_seed, rng.repeatable(), verbose);
  summarise(results, P);
  if (verbose) print_closing(console, results);
}

}  // namespace kelvora
