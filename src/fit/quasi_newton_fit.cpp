// The quasi-Newton minimiser on a least-squares problem (see
// quasi_newton.hpp). The minimiser keeps its own trial points; every
// evaluation loads one into a private copy of the search state, whose
// projection (absolute values, bounds, relabelling) never reaches the
// minimiser.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <map>
#include <vector>

#include "fit/quasi_newton.hpp"

namespace kelvora {

namespace {

constexpr double worst_accepted = 1.1;  // f_best above 1.1 SS0 is not taken
constexpr double handed_on = 1.05;      // the next stage sees SS 5 % above the one reached

}  // namespace

Quasi_newton_result va10_cg(Console& console, const Least_squares_problem& problem,
                            Search_state& state, const Fit_random& random) {
  const double ss0 = evaluate(problem, state);
  Quasi_newton_result result;
  result.f_best = ss0;
  if (problem.n_residuals() == 0) return result;

  const int m = state.n;
  const Variables saved = state.value;

  // The objective is a function of x alone, and the minimiser comes back to
  // points it has met (the upward differences again when it turns to
  // central ones, the unchanged trial of the polish, the start of a pass):
  // their values are kept. The minimiser still counts every call against
  // its budget.
  Search_state copy = state;
  std::map<std::array<std::uint64_t, max_var>, double> met;  // by the bits of x
  const Objective_callback objective = [&copy, &problem, &met](const double* x, int n) {
    std::array<std::uint64_t, max_var> bits{};
    for (int i = 0; i < n; ++i) bits[i] = std::bit_cast<std::uint64_t>(x[i]);
    const auto [at, is_new] = met.try_emplace(bits, 0.0);
    if (!is_new) return at->second;
    for (int i = 0; i < n; ++i) copy.value[i] = copy.accepted[i] = x[i];
    return at->second = evaluate(problem, copy);
  };
  std::vector<double> x(saved.begin(), saved.begin() + m);
  result = quasi_newton_minimise(objective, x, random.generator, random.before_polish,
                                 [&console](std::string_view line) { console.exact(line); });

  // Once the minimiser has run, the result values are taken when usable; a
  // refused start changes nothing.
  state.evaluations = copy.evaluations;
  if (result.passes > 0 && result.status != qn_status::error)
    std::copy(x.begin(), x.end(), state.value.begin());

  if (result.status != qn_status::error && result.f_best <= worst_accepted * ss0) {
    state.ss = result.f_best;
  } else {
    console.exact("CG optimization skipped (unstable for this data)");
    state.ss = ss0;
    state.value = saved;
  }
  state.accept();
  state.ss *= handed_on;
  return result;
}

}  // namespace kelvora
