// The staged fit of several curves (see staged_strategies.hpp).

#include "fit/staged_strategies.hpp"

#include <array>
#include <memory>

#include "data/parameter_layout.hpp"
#include "fit/minimisers.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {

namespace {

// The record of a one-curve analysis of curve c: the same ligands, sites,
// values and constant flags, with curve c's correction factor as C1 and the
// cooperativity factors in the slots a one-curve vector has for them.
Fit_parameters one_curve_record(const Fit_parameters& params, int c, int n_points) {
  Fit_parameters one = params;
  one.n_curves = 1;
  one.n_points = n_points;
  one.n_params = get_total_npar(one);
  auto copy_slot = [&](int to, int from) {
    one.name[to] = params.name[from];
    one.value[to] = one.accepted[to] = params.value[from];
    one.is_constant[to] = params.is_constant[from];
  };
  copy_slot(c_slot(one, 1), c_slot(params, c));
  one.name[c_slot(one, 1)] = "C1";
  for (int s = 1; s <= params.n_sites; ++s) copy_slot(b_slot(one, s), b_slot(params, s));
  for (int p = one.n_params; p < max_params; ++p) one.is_constant[p] = true;
  setup_variable_map(one);
  return one;
}

// The slot of the full record that slot p of curve c's one-curve record
// stands for.
int full_record_slot(const Fit_parameters& params, const Fit_parameters& one, int p, int c) {
  if (p == c_slot(one, 1)) return c_slot(params, c);
  for (int s = 1; s <= params.n_sites; ++s)
    if (p == b_slot(one, s)) return b_slot(params, s);
  return p;  // K, R and N sit in the same slots
}

}  // namespace

Strategy_summary fit_curves_independently(const Binding_problem& problem, Search_state& state,
                                          double ss_ref) {
  Strategy_summary summary;
  const long long evaluations_at_entry = state.evaluations;
  long long private_evaluations = 0;
  const Fit_parameters params = problem.record_at(state.trial());
  std::array<double, max_params> sum{};
  std::array<int, max_params> count{};

  // The one-curve problem: curve c copied into the first slot of a table
  // whose other slots stay empty, and the record of a one-curve analysis
  // (one_curve_record) for it.
  auto single = std::make_unique<Curve_table>();
  for (int c = 1; c <= params.n_curves; ++c) {
    (*single)[0] = problem.curves()[c - 1];
    const Fit_parameters one = one_curve_record(params, c, (*single)[0].n_points);
    const Binding_problem one_problem(*single, one);
    Search_state one_state = search_state_of(one);
    one_state.last_pivot_product = state.last_pivot_product;
    one_state.counted_iterations = state.counted_iterations;
    evaluate(one_problem, one_state);  // the simplex starts from this SS
    nelder_mead_simplex(one_problem, one_state, 250);
    optimize_fit_simple(one_problem, one_state, 200);
    private_evaluations += one_state.evaluations;
    // Back to the slots of the full record: the shared K, R, N and B are
    // averaged over the curves, C<c> is curve c's own.
    for (int i = 0; i < one_state.n; ++i) {
      const int full = full_record_slot(params, one, one.var_map[i], c);
      sum[full] += one_state.value[i];
      ++count[full];
    }
  }
  for (int i = 0; i < state.n; ++i) {
    const int slot = params.var_map[i];
    if (count[slot] > 0) state.value[i] = state.accepted[i] = sum[slot] / count[slot];
  }

  evaluate(problem, state);
  state.accept();
  // (ss_ref - SS) / ss_ref < 0.05: the averaged point gains less than 5 %.
  if (ss_ref - state.ss < 0.05 * ss_ref) nelder_mead_simplex(problem, state, 200);
  summary.evaluations = state.evaluations - evaluations_at_entry + private_evaluations;
  return summary;
}

Strategy_summary optimize_multidataset_staged(const Binding_problem& problem, Search_state& state,
                                              const Fit_random& random) {
  const long long evaluations_at_entry = state.evaluations;
  state.accept();
  evaluate(problem, state);
  const long long before_alone = state.evaluations;
  const Strategy_summary alone = fit_curves_independently(problem, state, state.ss);
  // The evaluations of the one-curve problems, which the state does not count.
  const long long private_evaluations = alone.evaluations - (state.evaluations - before_alone);

  evaluate(problem, state);
  state.accept();
  optimize_fit_simple(problem, state, 200);
  evaluate(problem, state);
  optimize_fit_with_tunnel(problem, state, random);
  optimize_fit_simple(problem, state, 200);
  evaluate(problem, state);

  Strategy_summary summary;
  summary.evaluations = state.evaluations - evaluations_at_entry + private_evaluations;
  return summary;
}

}  // namespace kelvora
