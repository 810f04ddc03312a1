#include "fit/fit_sequence.hpp"

#include <cmath>
#include <functional>
#include <string>
#include <utility>

#include "data/parameter_layout.hpp"
#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "fit/quasi_newton.hpp"
#include "fit/staged_strategies.hpp"
#include "fit/tunnel_search.hpp"
#include "util/interruption.hpp"

namespace kelvora {

void Best_point::consider(Curve_table& curves, const Fit_parameters& params) {
  Fit_parameters copy = params;
  evaluate_model(curves, copy, scratch_);
  // A sum that is not a number is never the best.
  if (found_ ? scratch_.ss < ss_ : !std::isnan(scratch_.ss)) {
    ss_ = scratch_.ss;
    value_ = copy.value;
    found_ = true;
  }
}

bool Best_point::restore_if_better(Curve_table& curves, Fit_parameters& params,
                                   Optimization_data& opt) {
  consider(curves, params);
  const bool better = found_ && scratch_.ss != ss_;
  if (better) params.value = value_;
  params.accepted = params.value;
  evaluate_model(curves, params, opt);
  return better;
}

Sequence_summary run_fit_sequence(Console& console, Curve_table& curves, Fit_parameters& params,
                                  Optimization_data& opt, const Fit_random& random) {
  Sequence_summary summary;
  Best_point best;
  best.consider(curves, params);
  const long long evaluations_at_entry = opt.n_evaluations;
  auto stage = [&](std::string_view name, const std::function<void()>& run) {
    // An interruption skips the stages left: the best point so far stands.
    if (interruption_requested()) return;
    const long long before = opt.n_evaluations;
    run();
    summary.stages.push_back({name, opt.n_evaluations - before, opt.ss});
    best.consider(curves, params);
  };
  auto simplex = [&](int max_iter) {
    return [&, max_iter] { nelder_mead_simplex(curves, params, opt, max_iter); };
  };
  auto lm = [&](int max_iter) {
    return [&, max_iter] { optimize_fit_simple(curves, params, opt, max_iter); };
  };
  const auto quasi_newton = [&] { va10_cg(console, curves, params, opt, random); };
  const auto adaptive_tunnel = [&] { optimize_with_adaptive_tunnel(curves, params, opt, random); };
  const auto staged = [&] { optimize_multidataset_staged(curves, params, opt, random); };

  stage("simplex 300", simplex(300));
  stage("Levenberg-Marquardt 200", lm(200));
  stage("enhanced Levenberg-Marquardt",
        [&] { levenberg_marquardt_enhanced(curves, params, opt, random); });
  if (params.n_curves == 1) {
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
  params.accepted = params.value;
  summary.ss_reference = opt.ss;
  params.backup = params.accepted;
  stage("Levenberg-Marquardt 100", lm(100));
  stage("Levenberg-Marquardt 50", lm(50));

  // A refinement that made the fit markedly worse, or whose sum is not a
  // number, is undone (whatever the number of curves: the backup exists).
  summary.restored_markedly_worse =
      restore_if_markedly_worse(params, opt, summary.ss_reference, true);
  summary.returned_to_best = best.restore_if_better(curves, params, opt);
  summary.evaluations = opt.n_evaluations - evaluations_at_entry + best.evaluations();
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

Sequence_summary run_fit_sequence_both_preferences(Console& console, Curve_table& curves,
                                                   Fit_parameters& params, Optimization_data& opt,
                                                   const Fit_random& random,
                                                   std::vector<Preference_fits>& preferences) {
  preferences.clear();
  const Fit_parameters start = params;
  const Optimization_data start_opt = opt;
  Sequence_summary kept = run_fit_sequence(console, curves, params, opt, random);
  for (const int l : ligands_with_open_preference(start)) {
    if (interruption_requested()) break;
    const int site_1 = k_slot(start, l, 1);
    const int site_2 = k_slot(start, l, 2);
    Preference_fits fits;
    fits.ligand = l;
    fits.k_as_given[0] = params.value[site_1];
    fits.k_as_given[1] = params.value[site_2];
    fits.ss_as_given = opt.ss;

    const Fit_parameters as_given = params;
    const Optimization_data as_given_opt = opt;
    params = start;
    opt = start_opt;
    opt.n_evaluations = as_given_opt.n_evaluations;
    for (auto* values : {&params.value, &params.accepted, &params.backup})
      std::swap((*values)[site_1], (*values)[site_2]);
    console.empty_line();
    console.free_form("Fitting again with the site preference of ligand " + std::to_string(l) +
                      " exchanged (" + params.name[site_1] + " <-> " + params.name[site_2] + ")");
    evaluate_model(curves, params, opt);
    const Sequence_summary other = run_fit_sequence(console, curves, params, opt, random);
    fits.k_exchanged[0] = params.value[site_1];
    fits.k_exchanged[1] = params.value[site_2];
    fits.ss_exchanged = opt.ss;
    // A sum that is not a number never wins.
    fits.exchanged_kept = fits.ss_exchanged < fits.ss_as_given ||
                          (std::isnan(fits.ss_as_given) && !std::isnan(fits.ss_exchanged));
    if (fits.exchanged_kept) {
      kept = other;
    } else {
      const long long evaluations = opt.n_evaluations;
      params = as_given;
      opt = as_given_opt;
      opt.n_evaluations = evaluations;
      // The curves hold the residuals of the last fit run: refresh them.
      const double ss = opt.ss;
      evaluate_model(curves, params, opt);
      opt.ss = ss;
    }
    preferences.push_back(fits);
  }
  return kept;
}

bool restore_if_markedly_worse(Fit_parameters& params, Optimization_data& opt, double ss_reference,
                               bool nan_restores) {
  const bool worse = opt.ss > 2.0 * ss_reference || (nan_restores && std::isnan(opt.ss));
  if (!worse) return false;
  params.accepted = params.backup;
  params.value = params.accepted;
  opt.ss = ss_reference;
  return true;
}

}  // namespace kelvora
