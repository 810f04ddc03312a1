#include "fit/tunnel_search.hpp"

#include <array>
#include <utility>

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

Tunnel_result tunnel_search_kelvora3(const Least_squares_problem& problem, Search_state& state,
                                     Random_generator& rng) {
  Tunnel_result result;
  const int m = state.n;
  if (m <= 0) return result;
  const long long evaluations_at_entry = state.evaluations;
  const Variables entry_values = state.value;
  // The objective's relabelling may exchange accepted values too.
  const Variables entry_accepted = state.accepted;
  const double entry_ss = state.ss;

  Variables best = entry_values;
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
      state.value = best;
      for (int i = 0; i < m; ++i) {
        const int v = order[i];
        const double r = 0.8999999999999999 * u[(j + i) % n_uniforms] + 0.05;
        state.value[v] = best[v] * (1.0 + (j - centre_trial) * r * sigma);
      }
      evaluate(problem, state);
      if (state.ss < best_ss) {
        // The point as evaluated (projected), which is the one this SS
        // belongs to; the trial as generated may lie outside the ranges.
        best_ss = state.ss;
        best = state.value;
        result.improved = true;
      }
    }
  }

  if (result.improved) {
    state.value = state.accepted = best;
    state.ss = best_ss;
  } else {
    state.value = entry_values;
    state.accepted = entry_accepted;
    state.ss = entry_ss;
  }
  result.evaluations = state.evaluations - evaluations_at_entry;
  return result;
}

}  // namespace kelvora
