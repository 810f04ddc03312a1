// One analysis of main-menu choice 1: output files, curves, then set-up
// passes (sites, parameter vector, constants, starting values, estimates),
// each followed by the fixed sequence of minimisers and the reports, until
// the user wants no further fit of the same data; then the closing.

#include "app/fitting_analysis.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "competition/competition_analysis.hpp"
#include "data/assay.hpp"
#include "data/curve_reader.hpp"
#include "fit/binding_problem.hpp"
#include "fit/fit_random.hpp"
#include "fit/fit_sequence.hpp"
#include "fit/minimisers.hpp"
#include "fit/tunnel_search.hpp"
#include "model/curve_predictions.hpp"
#include "params/dialogues.hpp"
#include "params/estimation.hpp"
#include "params/parameter_vector.hpp"
#include "report/fit_messages.hpp"
#include "report/result_set.hpp"
#include "report/results.hpp"
#include "stats/bootstrap_se.hpp"
#include "stats/model_comparison.hpp"
#include "stats/runs_test.hpp"
#include "stats/site_preference.hpp"
#include "util/console.hpp"
#include "util/files.hpp"
#include "util/interruption.hpp"
#include "util/random.hpp"
#include "util/stem_lock.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

// The state of one analysis, from its first prompt to its closing.
struct Analysis {
  Analysis(Console& c, Curve_table& t, Fit_parameters& p, Fit_outcome& o, Fit_results& r,
           Plot_mode& m, const std::string& line)
      : console(c), curves(t), params(p), outcome(o), results(r), plots(m) {
    files.command_line = line;
  }
  Console& console;
  Curve_table& curves;
  Fit_parameters& params;
  Fit_outcome& outcome;
  Fit_results& results;
  Plot_mode& plots;
  Result_set files;
  Stem_lock lock;
  bool fit_interrupted = false;  // the last fit stopped early
  bool all_saturation = true;
  int fits_made = 0;  // the fits reported (and their files written) so far
  Estimation_state estimation;
  // The fit of the previous pass, compared with the next one when that has
  // a different number of sites.
  std::optional<Model_fit> last_fit;
  // This pass fits on from the previous pass's values, unchanged.
  bool reuse_values = false;
  // The warning of this pass that a ligand's site preference is undetermined.
  std::vector<std::string> preference_warning;
};

// ---------------------------------------------------------------------------
// The calls into the fit library: the random numbers of its moves, the
// refinement of automatic estimates, the fit itself and its bootstrap.

// The session's random numbers all come from the process generator, seeded
// here and nowhere else: before each tunnel move from the entropy source,
// before each polish of the quasi-Newton minimiser with the fixed seed,
// before a single-curve bootstrap from the clock, before a multi-curve one
// with multicurve_seed, and before the bootstrap of each competition curve
// with that curve's seed. Under a session seed each of these requests
// installs a seed derived from the session seed instead (util/random.hpp), so
// their order and number make the session's numbers.
Fit_random session_fit_random() {
  return {process_random(), [](Random_generator& g) { g.seed_from_entropy(); },
          [](Random_generator& g) { g.seed_fixed(); }};
}

// The bootstrap standard errors and intervals of a finished fit (100
// replicates): one curve's pooled points, or several curves stratified by
// curve.
Bootstrap_results bootstrap_fitted_parameters(Analysis& a) {
  constexpr int replicates = 100;
  Random_generator& rng = process_random();
  const Seeding before_tunnel = session_fit_random().before_tunnel;
  if (a.params.n_curves == 1) {
    rng.seed_from_clock();
    return calculate_bootstrap_se_kelvora(a.console, a.curves, a.params, a.outcome, replicates, rng,
                                          before_tunnel);
  }
  rng.seed_fixed(multicurve_seed);
  return calculate_bootstrap_se_kelvora_multi(a.console, a.curves, a.params, a.outcome, replicates,
                                              rng, before_tunnel);
}

// The automatic estimates; saturation estimates are refined by a short
// simplex (no sum of squares is known yet: it keeps its own) and then a
// random search around its point.
void automatic_estimates(Analysis& a) {
  if (!estimate_starting_values(a.console, a.curves, a.params, a.estimation)) return;
  const Binding_problem problem(a.curves, a.params);
  Search_state state = search_state_of(a.params);
  state.ss = 1.0e30;
  nelder_mead_simplex(problem, state, 50);
  tunnel_search_kelvora3(problem, state, session_fit_random().for_tunnel());
  store_search_state(state, a.params);
}

// Starts the fit, runs the minimisers and guards the result. False when the
// sum of squares is not a number: the values before the fit are put back.
bool fit(Analysis& a) {
  Fit_parameters& p = a.params;
  Fit_outcome& outcome = a.outcome;
  const auto values_before = p.value;
  if (!a.reuse_values) apply_k_constraints_barrier(p);
  const Binding_problem problem(a.curves, p);
  Search_state state = search_state_of(p);
  state.accepted = state.value;
  const double ss_start = evaluate(problem, state);
  state.accept();
  store_search_state(state, p);
  print_summary_before_fitting(a.console, p);
  print_fit_heading(a.console, p, ss_start);

  // The fixed sequence of minimisers and its guards, from both site
  // preferences of every ligand but ligand 1 when both its affinities are fitted.
  std::vector<Preference_fits> preferences;
  run_fit_sequence_both_preferences(a.console, problem, state, session_fit_random(), preferences);
  store_search_state(state, p);
  outcome.ss = state.ss;
  a.fit_interrupted = interruption_requested();
  const auto not_a_number = [](double value) { return std::isnan(value); };
  if (std::isnan(outcome.ss) ||
      std::any_of(p.value.begin(), p.value.begin() + p.n_params, not_a_number)) {
    print_not_a_number(a.console, p);
    p.value = p.accepted = values_before;
    return false;
  }
  a.preference_warning = preference_warning(p, preferences);
  print_fit_completion(a.console, p, ss_start, outcome.ss, a.preference_warning);
  outcome.fitted = predict_curves(a.curves, p);
  return true;
}

// ---------------------------------------------------------------------------
// The analysis: its questions, the calls of each step and the closing.

void report_file_error(Console& console, const std::string& name) {
  std::error_code ec;
  const bool dangling = std::filesystem::is_symlink(std::filesystem::symlink_status(name, ec)) &&
                        !std::filesystem::exists(name, ec);
  console.exact("ERROR: Cannot create file " + name);
  console.exact(dangling
                    ? "       (it is a link to a file that does not exist; it is left as it is);"
                      " analysis ended."
                    : "       (check that the folder exists and is writable); analysis ended.");
}

// The stem, checked and locked. False when the input ended at the prompt or
// a result file cannot be written. Nothing is written here: older results
// stay as they are until a fit has new ones.
bool open_output_files(Analysis& a) {
  for (;;) {
    a.console.empty_line();
    a.console.prompt("ENTER OUTPUT DATA FILE NAME, E.G., MY_RESULTS (NO EXTENSION): ");
    const auto answer = a.console.read_line(file_name_length);
    if (!answer) {
      a.console.end_line();
      return false;
    }
    std::string& stem = a.files.stem;
    stem = std::string(trim(*answer));
    if (stem.empty()) stem = "My_results";
    for (const char* suffix : {".out", "_Plot.out"}) {
      if (!replacement_target(stem + suffix)) {
        report_file_error(a.console, stem + suffix);
        return false;
      }
    }
    switch (a.lock.acquire(stem)) {
      case Stem_lock::Outcome::locked:
        a.files.date = analysis_date();
        return true;
      case Stem_lock::Outcome::busy:
        a.console.exact("Another analysis is writing the results of " + stem +
                        " now; choose another output file name.");
        break;
      case Stem_lock::Outcome::failed:
        report_file_error(a.console, stem + ".lock");
        return false;
    }
  }
}

// Read and order the curves. False when no curve was read or a result file
// cannot be written.
bool read_curves(Analysis& a) {
  if (!read_analysis_curves(a.console, a.curves, a.params)) return false;
  a.files.start(a.curves, a.params);
  if (a.files.scatchard_wanted && !replacement_target(a.files.scatchard_name())) {
    report_file_error(a.console, a.files.scatchard_name());
    deallocate_all_curves(a.curves, a.params.n_curves);
    return false;
  }
  reorder_curves_saturation_first(a.console, a.curves, a.params);
  a.results.n_blocks = 0;
  return true;
}

// The set-up of one pass, up to the start of fitting. False when the user
// cancels the fit.
bool set_up_pass(Analysis& a) {
  Fit_parameters& p = a.params;
  Console& console = a.console;
  p.n_sites = ask_number_of_sites(console);
  print_binding_model_info(console, a.curves, p);
  start_parameter_vector(console, p);
  choose_constant_parameters(console, a.curves, p);
  // (A cancelled set-up or a failed fit leaves nothing to go on from.)
  const bool same_model = a.fits_made > 0 && p.n_sites == p.prev_n_sites;
  if (same_model) {
    restore_pass_values(p);
  } else {
    get_initial_parameters(console, p);
  }

  a.all_saturation = all_saturation_curves(a.curves, p);
  a.estimation.tied.fill(false);
  if (a.all_saturation && saturation_of_both_ligands(a.curves, p))
    fix_redundant_parameters(console, p, a.estimation.tied);

  warn_ratio_only(console, a.curves, p);
  if (!proceed_with_fitting(console)) return false;
  p.n_params_check = get_total_npar(p);

  // A refit from the values of the previous pass, as they are.
  a.reuse_values =
      same_model &&
      ask_yes(console, "REFIT THE SAME DATA USING CURRENT PARAMETER VALUES (Y/N) [Y]: ");
  if (a.reuse_values) return true;
  if (!ask_yes(console, "COMPUTE AUTOMATIC PARAMETER ESTIMATES (Y/N) [Y]: ")) {
    get_initial_parameters(console, p, a.estimation.tied, Constant_offer::current_value);
    apply_redundant_values(p, a.estimation.tied);  // K2s follows a newly typed K1s
    return true;
  }
  automatic_estimates(a);
  return true;
}

// The reports of a finished fit: the console's, then every result file
// (complete before any plot is shown), then the plots.
void report(Analysis& a) {
  Fit_parameters& p = a.params;
  Fit_outcome& outcome = a.outcome;
  const Bootstrap_results bootstrap = bootstrap_fitted_parameters(a);
  if (p.n_curves > 1) a.files.samples_text = bootstrap_samples_text(bootstrap, p);
  print_bound_warnings(a.console, p);
  print_poorly_determined(a.console, p, outcome);
  const std::vector<Ratio_only> ratio_only = ratio_only_parameters(a.curves, p);
  print_ratio_only(a.console, p, ratio_only);
  // The fitted point as its last evaluation relabelled it: its own sum.
  outcome.ss = sum_of_squares_at(a.curves, p);

  // One site against two: after a pass whose number of sites differs from
  // the previous pass's.
  const Model_fit this_fit{p.n_sites, outcome.ss, p.n_points, p.n_var};
  std::vector<std::string> comparison;
  if (a.last_fit && a.last_fit->sites != this_fit.sites) {
    comparison = model_comparison_lines(compare_models(*a.last_fit, this_fit));
    a.console.empty_line();
    for (const std::string& line : comparison) a.console.free_form(line);
  }
  a.files.add_summary(p, outcome, ratio_only, a.preference_warning, comparison);
  a.last_fit = this_fit;
  ++a.fits_made;
  a.console.empty_line();
  print_detailed_results(a.console, a.curves, p, outcome);
  calculate_runs(a.console, a.curves, p, outcome);

  const auto plots = a.files.add_graphics(a.console, a.curves, p, outcome, a.results);
  const std::string interruption = interruption_text(a.fit_interrupted, bootstrap);
  std::optional<std::string> competition;
  if (!a.all_saturation)
    competition = competition_results_text(
        a.curves, p, outcome.fitted, a.results, process_random(),
        [](Random_generator& g, int c) { g.seed_fixed(competition_curve_seed(c)); });
  a.files.commit(interruption, competition);
  if (interruption_requested()) return;  // no plot: the session ends
  a.console.flush();                     // the reports are out before a window may hold the session

  // The image files of the first fit are STEM_curveN; those of a refit carry
  // its number, so that a refit never replaces the plots of an earlier fit.
  for (const auto& [c, curve] : plots) {
    std::string file_stem = a.files.stem + "_curve" + std::to_string(c + 1);
    if (a.fits_made > 1) file_stem += "_fit" + std::to_string(a.fits_made);
    plot(a.console, curve, a.plots, file_stem);
    if (interruption_requested()) return;
  }
}

// True when the user asks for another fit of the same data. The names,
// values and links of this pass are kept for it.
bool another_fit(Analysis& a) {
  a.console.empty_line();
  a.console.exact("A RERUN OF THE DATA MAY IMPROVE THE FIT.");
  a.console.prompt("ANOTHER FIT OF SAME DATA (Y/N) [Y]: ");
  const auto answer = a.console.read_line();
  keep_pass_values(a.params);
  if (!answer) {
    a.console.end_line();
    return false;
  }
  if (is_blank(*answer)) return true;
  const char first = trim(*answer)[0];
  return first == 'Y' || first == 'y';
}

// The closing lines under `heading` when some fit was made (the files
// written), otherwise `unfitted`; the curves released.
void close_analysis(Analysis& a, const std::string& heading, const std::string& unfitted) {
  a.console.empty_line();
  if (a.fits_made > 0) {
    a.console.free_form(heading);
    a.files.print_saved(a.console);
  } else {
    a.console.free_form(unfitted);
  }
  deallocate_all_curves(a.curves, a.params.n_curves);
}

// An interrupted analysis ends the session once its results are written.
[[noreturn]] void end_interrupted(Analysis& a) {
  const int signal = interruption_signal();
  const std::string why = "The analysis was interrupted (" + signal_name(signal) + ")";
  close_analysis(a, why + "; the results it had reached are written:",
                 why + " before a fit; earlier results of " + a.files.stem + " are unchanged.");
  throw Interrupted(signal);
}

}  // namespace

void run_fitting_analysis(Console& console, Curve_table& curves, Fit_parameters& fit_params,
                          Fit_outcome& outcome, Fit_results& results, Plot_mode& plots,
                          const std::string& command_line) {
  Analysis a(console, curves, fit_params, outcome, results, plots, command_line);
  if (!open_output_files(a)) return;
  if (!read_curves(a)) return;
  try {
    for (;;) {
      if (!set_up_pass(a)) continue;  // "Fit cancelled": the set-up again
      if (interruption_requested()) end_interrupted(a);
      if (!fit(a)) continue;
      report(a);
      if (interruption_requested()) end_interrupted(a);
      if (!another_fit(a)) break;
    }
  } catch (const Input_ended&) {
    // The input ended at a prompt: the analysis closes in order.
  }
  close_analysis(a, "Receptor binding analysis complete.",
                 "No fit was made; earlier results of " + a.files.stem + " are unchanged.");
  console.empty_line();
}

}  // namespace kelvora
