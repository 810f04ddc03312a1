#include "fit/tunnel_search.hpp"

#include <array>
#include <utility>

#include "fit/objective.hpp"

namespace kelvora {

namespace {

constexpr int n_uniforms = 150;
constexpr int n_stages = 40;
constexpr int trials_per_stage = 15;
constexpr int centre_trial = 8;  // its factor is 1: the trial is the best point

// Spread of the factors: wide first, then ever closer to the best point.
double stage_spread(int stage) {
  if (stage <= 10) return 0.75;
  if (stage <= 20) return 0.25;
  if (stage <= 30) return 0.1;
  return 0.01;
}

}  // namespace

Tunnel_result tunnel_search_kelvora3(Curve_table& curves, Fit_parameters& params,
                                     Optimization_data& opt, Random_generator& rng) {
  Tunnel_result result;
  const int m = params.n_var;
  if (m <= 0) return result;
  const long long evaluations_at_entry = opt.n_evaluations;
  const auto entry_values = params.value;
  // The objective's site ordering may exchange accepted values too.
  const auto entry_accepted = params.accepted;
  const double entry_ss = opt.ss;

  auto best = entry_values;
  double best_ss = entry_ss;

  std::array<double, n_uniforms> u;
  for (double& x : u) x = rng.uniform();

  std::array<int, max_var> order;
  for (int stage = 1; stage <= n_stages; ++stage) {
    const double sigma = stage_spread(stage);
    for (int j = 1; j <= trials_per_stage; ++j) {
      for (int i = 0; i < m; ++i) order[i] = i;
      for (int k = m; k >= 2; --k) {  // Fisher-Yates, 1-based k
        const int pick = static_cast<int>(k * rng.uniform());
        std::swap(order[k - 1], order[pick]);
      }
      params.value = best;
      for (int i = 0; i < m; ++i) {
        const int p = params.var_map[order[i]];
        const double r = 0.8999999999999999 * u[(j + i) % n_uniforms] + 0.05;
        params.value[p] = best[p] * (1.0 + (j - centre_trial) * r * sigma);
      }
      evaluate_model(curves, params, opt);
      if (opt.ss < best_ss) {
        // The point as evaluated (repaired), which is the one this SS
        // belongs to; the trial as generated may lie outside the ranges.
        best_ss = opt.ss;
        for (int i = 0; i < m; ++i) best[params.var_map[i]] = params.value[params.var_map[i]];
        result.improved = true;
      }
    }
  }

  params.accepted = entry_accepted;
  if (result.improved) {
    params.value = best;
    opt.ss = best_ss;
    for (int i = 0; i < m; ++i) params.accepted[params.var_map[i]] = best[params.var_map[i]];
  } else {
    params.value = entry_values;
    opt.ss = entry_ss;
  }
  result.evaluations = opt.n_evaluations - evaluations_at_entry;
  return result;
}

}  // namespace kelvora
