#include "fit/fit_sequence.hpp"

#include <cmath>
#include <functional>
#include <string>
#include <utility>

#include "data/parameter_layout.hpp"
#include "fit/minimisers.hpp"
#include "fit/quasi_newton.hpp"
#include "fit/staged_strategies.hpp"
#include "util/interruption.hpp"

namespace kelvora {

void Best_point::consider(const Least_squares_problem& problem, const Search_state& state) {
  Search_state copy = state;
  last_ss_ = evaluate(problem, copy);
  evaluations_ += copy.evaluations - state.evaluations;
  // A sum that is not a number is never the best.
  if (found_ ? last_ss_ < ss_ : !std::isnan(last_ss_)) {
    ss_ = last_ss_;
    value_ = copy.value;
    found_ = true;
  }
}

bool Best_point::restore_if_better(const Least_squares_problem& problem, Search_state& state) {
  consider(problem, state);
  const bool better = found_ && last_ss_ != ss_;
  if (better) state.value = value_;
  state.accept();
  evaluate(problem, state);
  return better;
}

Sequence_summary run_fit_sequence(Console& console, const Binding_problem& problem,
                                  Search_state& state, const Fit_random& random) {
  Sequence_summary summary;
  Best_point best;
  best.consider(problem, state);
  const long long evaluations_at_entry = state.evaluations;
  auto stage = [&](std::string_view name, const std::function<void()>& run) {
    // An interruption skips the stages left: the best point so far stands.
    if (interruption_requested()) return;
    const long long before = state.evaluations;
    run();
    summary.stages.push_back({name, state.evaluations - before, state.ss});
    best.consider(problem, state);
  };
  auto simplex = [&](int max_iter) {
    return [&, max_iter] { nelder_mead_simplex(problem, state, max_iter); };
  };
  auto lm = [&](int max_iter) {
    return [&, max_iter] { optimize_fit_simple(problem, state, max_iter); };
  };
  const auto quasi_newton = [&] { va10_cg(console, problem, state, random); };
  const auto adaptive_tunnel = [&] { optimize_with_adaptive_tunnel(problem, state, random); };
  const auto staged = [&] { optimize_multidataset_staged(problem, state, random); };

  stage("simplex 300", simplex(300));
  stage("Levenberg-Marquardt 200", lm(200));
  stage("enhanced Levenberg-Marquardt",
        [&] { levenberg_marquardt_enhanced(problem, state, random); });
  if (problem.layout().n_curves == 1) {
    stage("simplex 200", simplex(200));
    stage("quasi-Newton", quasi_newton);
    stage("simplex 250", simplex(250));
    stage("adaptive tunnel", adaptive_tunnel);
    stage("quasi-Newton", quasi_newton);
  } else {
    stage("simplex 200", simplex(200));
    stage("staged", staged);
    stage("staged", staged);
    stage("simplex 200", simplex(200));
    stage("adaptive tunnel", adaptive_tunnel);
    stage("quasi-Newton", quasi_newton);
  }

  // The point reached is the reference of the final refinements.
  state.accept();
  summary.ss_reference = state.ss;
  const Variables reference = state.accepted;
  stage("Levenberg-Marquardt 100", lm(100));
  stage("Levenberg-Marquardt 50", lm(50));

  // A refinement that made the fit markedly worse, or whose sum is not a
  // number, is undone.
  summary.restored_markedly_worse =
      restore_if_markedly_worse(state, reference, summary.ss_reference, true);
  summary.returned_to_best = best.restore_if_better(problem, state);
  summary.evaluations = state.evaluations - evaluations_at_entry + best.evaluations();
  return summary;
}

std::vector<int> ligands_with_open_preference(const Fit_parameters& params) {
  std::vector<int> ligands;
  if (params.n_sites != 2) return ligands;
  for (int l = 2; l <= params.n_ligands; ++l) {
    if (!params.is_constant[k_slot(params, l, 1)] && !params.is_constant[k_slot(params, l, 2)])
      ligands.push_back(l);
  }
  return ligands;
}

Sequence_summary run_fit_sequence_both_preferences(Console& console, const Binding_problem& problem,
                                                   Search_state& state, const Fit_random& random,
                                                   std::vector<Preference_fits>& preferences) {
  preferences.clear();
  const Fit_parameters& layout = problem.layout();
  const Search_state start = state;
  Sequence_summary kept = run_fit_sequence(console, problem, state, random);
  for (const int l : ligands_with_open_preference(layout)) {
    if (interruption_requested()) break;
    const int site_1 = layout.var_of_param[k_slot(layout, l, 1)];
    const int site_2 = layout.var_of_param[k_slot(layout, l, 2)];
    Preference_fits fits;
    fits.ligand = l;
    fits.k_as_given[0] = state.value[site_1];
    fits.k_as_given[1] = state.value[site_2];
    fits.ss_as_given = state.ss;

    const Search_state as_given = state;
    state = start;
    state.evaluations = as_given.evaluations;
    std::swap(state.value[site_1], state.value[site_2]);
    std::swap(state.accepted[site_1], state.accepted[site_2]);
    console.empty_line();
    console.free_form("Fitting again with the site preference of ligand " + std::to_string(l) +
                      " exchanged (" + layout.name[k_slot(layout, l, 1)] + " <-> " +
                      layout.name[k_slot(layout, l, 2)] + ")");
    evaluate(problem, state);
    const Sequence_summary other = run_fit_sequence(console, problem, state, random);
    fits.k_exchanged[0] = state.value[site_1];
    fits.k_exchanged[1] = state.value[site_2];
    fits.ss_exchanged = state.ss;
    // A sum that is not a number never wins.
    fits.exchanged_kept = fits.ss_exchanged < fits.ss_as_given ||
                          (std::isnan(fits.ss_as_given) && !std::isnan(fits.ss_exchanged));
    if (fits.exchanged_kept) {
      kept = other;
    } else {
      const long long evaluations = state.evaluations;
      state = as_given;
      state.evaluations = evaluations;
    }
    preferences.push_back(fits);
  }
  return kept;
}

bool restore_if_markedly_worse(Search_state& state, const Variables& reference, double ss_reference,
                               bool nan_restores) {
  const bool worse = state.ss > 2.0 * ss_reference || (nan_restores && std::isnan(state.ss));
  if (!worse) return false;
  state.value = state.accepted = reference;
  state.ss = ss_reference;
  return true;
}

}  // namespace kelvora
