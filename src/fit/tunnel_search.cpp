#include "fit/tunnel_search.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

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

  // Between two improvements best and u stay as they are, so a trial is a
  // function of (j, sigma, order) alone, and trial 8 is the best point
  // whatever sigma and the order. A trial met before since the last
  // improvement is not evaluated again: its SS was not below best_ss then,
  // and best_ss has not changed since, so it could not improve now either.
  // The shuffle still draws its numbers, so that the stream stays the same.
  using Order = std::array<int, max_var>;
  std::array<std::vector<Order>, trials_per_stage + 1> met;  // by j, at this sigma
  bool centre_met = false;
  auto forget_trials = [&met] {
    for (auto& orders : met) orders.clear();
  };
  Order order;
  for (int stage = 1; stage <= n_stages; ++stage) {
    const double sigma = stage_spread(stage);
    if (stage > 1 && sigma != stage_spread(stage - 1)) forget_trials();
    for (int j = 1; j <= trials_per_stage; ++j) {
      for (int i = 0; i < m; ++i) order[i] = i;
      for (int k = m; k >= 2; --k) {  // Fisher-Yates, 1-based k
        const int pick = static_cast<int>(k * rng.uniform());
        std::swap(order[k - 1], order[pick]);
      }
      if (j == centre_trial) {
        if (centre_met) continue;
        centre_met = true;
      } else {
        auto& orders = met[j];
        const auto same_order = [&order, m](const Order& o) {
          return std::equal(o.begin(), o.begin() + m, order.begin());
        };
        if (std::any_of(orders.begin(), orders.end(), same_order)) continue;
        orders.push_back(order);
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
        forget_trials();
        centre_met = false;
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
