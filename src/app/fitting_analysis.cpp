// One analysis of main-menu choice 1: output files, curves, then set-up
// passes (sites, parameter vector, constants, starting values, estimates),
// each followed by the fixed sequence of minimisers and the reports, until
// the user wants no further fit of the same data; then the closing.

#include "app/fitting_analysis.hpp"

#include "app/machine_results.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "competition/competition_analysis.hpp"
#include "data/assay.hpp"
#include "data/curve_reader.hpp"
#include "data/parameter_layout.hpp"
#include "fit/binding_problem.hpp"
#include "fit/fit_random.hpp"
#include "fit/fit_sequence.hpp"
#include "fit/minimisers.hpp"
#include "fit/tunnel_search.hpp"
#include "model/curve_predictions.hpp"
#include "params/dialogues.hpp"
#include "params/estimation.hpp"
#include "params/parameter_vector.hpp"
#include "params/scripted_setup.hpp"
#include "report/fit_messages.hpp"
#include "report/result_set.hpp"
#include "report/results.hpp"
#include "stats/bootstrap_se.hpp"
#include "stats/fit_statistics.hpp"
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
  // The settings of an analysis without a dialogue; none in a dialogue.
  const Fit_settings* script = nullptr;
  // The warnings printed while the curves were read.
  std::vector<std::string> reading_warnings;
};

// The bootstrap replicates of the parameters of a fit in the dialogue.
constexpr int dialogue_replicates = 100;

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

// No bootstrap: the parameters have no standard errors or intervals, and the
// table of the results says so.
Bootstrap_results no_bootstrap(Analysis& a) {
  Fit_outcome& o = a.outcome;
  const double none = std::numeric_limits<double>::quiet_NaN();
  o.se.fill(none);
  o.ci_lower.fill(none);
  o.ci_upper.fill(none);
  o.has_intervals = false;
  o.determinacy = data_determinacy(a.curves, a.params, o.ss);
  Bootstrap_results results;
  print_bootstrap_results_kelvora(a.console, a.params, o, results);
  return results;
}

// The bootstrap standard errors and intervals of a finished fit (100
// replicates, or as many as the settings ask): one curve's pooled points, or
// several curves stratified by curve.
Bootstrap_results bootstrap_fitted_parameters(Analysis& a) {
  const int replicates = a.script ? a.script->bootstrap : dialogue_replicates;
  if (replicates == 0) return no_bootstrap(a);
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
  if (!estimate_starting_values(a.console, a.curves, a.params, a.estimation, a.script == nullptr))
    return;
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

// Checks that the main result files of a.files.stem can be replaced and locks
// the stem: nothing when locked, otherwise the file that cannot be written
// (STEM.out, STEM_Plot.out or the lock), or an empty name when another
// analysis holds the stem. Nothing is written here: older results stay as
// they are until a fit has new ones.
std::optional<std::string> lock_stem(Analysis& a) {
  const std::string& stem = a.files.stem;
  for (const char* suffix : {".out", "_Plot.out"})
    if (!replacement_target(stem + suffix)) return stem + suffix;
  switch (a.lock.acquire(stem)) {
    case Stem_lock::Outcome::locked:
      a.files.date = analysis_date();
      return std::nullopt;
    case Stem_lock::Outcome::busy:
      return "";
    case Stem_lock::Outcome::failed:
      break;
  }
  return stem + ".lock";
}

// The stem, checked and locked. False when the input ended at the prompt or
// a result file cannot be written.
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
    const std::optional<std::string> unwritable = lock_stem(a);
    if (!unwritable) return true;
    if (!unwritable->empty()) {
      report_file_error(a.console, *unwritable);
      return false;
    }
    a.console.exact("Another analysis is writing the results of " + stem +
                    " now; choose another output file name.");
  }
}

// After the curves are read: the result texts begun, the Scatchard file
// checked, the curves put in order. The name of the Scatchard file when it
// cannot be written (the curves are then released).
std::optional<std::string> start_results(Analysis& a) {
  a.reading_warnings = a.console.warnings();
  a.files.start(a.curves, a.params);
  if (a.files.scatchard_wanted && !replacement_target(a.files.scatchard_name())) {
    deallocate_all_curves(a.curves, a.params.n_curves);
    return a.files.scatchard_name();
  }
  reorder_curves_saturation_first(a.console, a.curves, a.params);
  a.results.n_blocks = 0;
  return std::nullopt;
}

// Read and order the curves. False when no curve was read or a result file
// cannot be written.
bool read_curves(Analysis& a) {
  a.console.clear_warnings();
  if (!read_analysis_curves(a.console, a.curves, a.params)) return false;
  if (const auto unwritable = start_results(a)) {
    report_file_error(a.console, *unwritable);
    return false;
  }
  return true;
}

// The set-up of one pass, up to the start of fitting. False when the user
// cancels the fit.
bool set_up_pass(Analysis& a) {
  Fit_parameters& p = a.params;
  Console& console = a.console;
  console.clear_warnings();
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
  const std::vector<std::string> poorly_determined = print_poorly_determined(a.console, p, outcome);
  const std::vector<Ratio_only> ratio_only = ratio_only_parameters(a.curves, p);
  print_ratio_only(a.console, p, ratio_only);
  // The fitted point as its last evaluation relabelled it: its own sum.
  outcome.ss = sum_of_squares_at(a.curves, p);

  // One site against two: after a pass whose number of sites differs from
  // the previous pass's.
  const Model_fit this_fit{p.n_sites, outcome.ss, p.n_points, p.n_var};
  std::optional<Model_comparison> compared;
  std::vector<std::string> comparison;
  if (a.last_fit && a.last_fit->sites != this_fit.sites) {
    compared = compare_models(*a.last_fit, this_fit);
    comparison = model_comparison_lines(*compared);
    const Console::Unmuted result(a.console);
    a.console.empty_line();
    for (const std::string& line : comparison) a.console.free_form(line);
  }
  std::vector<std::string> notes = a.preference_warning;
  if (bootstrap.samples.empty())
    notes.push_back("NOTE: No bootstrap was run: the parameters have no standard errors.");
  a.files.add_summary(p, outcome, ratio_only, notes, comparison);
  a.last_fit = this_fit;
  ++a.fits_made;
  a.console.empty_line();
  print_detailed_results(a.console, a.curves, p, outcome);
  std::vector<Curve_runs> runs = calculate_runs(a.console, a.curves, p, outcome);

  const auto plots = a.files.add_graphics(a.console, a.curves, p, outcome, a.results);
  const std::string interruption = interruption_text(a.fit_interrupted, bootstrap);
  std::optional<std::string> competition;
  std::vector<Competition_result> analysed;
  if (!a.all_saturation)
    competition = competition_results_text(
        a.curves, p, outcome.fitted, a.results, process_random(),
        [](Random_generator& g, int c) { g.seed_fixed(competition_curve_seed(c)); }, &analysed);

  // The same results for other programs.
  Fit_summary summary;
  summary.pass = a.fits_made;
  summary.params = p;
  summary.outcome = outcome;
  summary.outcome.fitted.clear();  // the figures, not the curves
  summary.bootstrap_replicates = static_cast<int>(bootstrap.samples.size());
  summary.bootstrap_converged = bootstrap.n_converged;
  summary.bootstrap_failed = bootstrap.n_failed;
  summary.bootstrap_not_run = bootstrap.n_not_run;
  for (int c = 0; c < p.n_curves; ++c) summary.curve_names.push_back(a.curves[c].file_name);
  summary.runs = std::move(runs);
  summary.comparison = compared;
  summary.competition = std::move(analysed);
  summary.warnings = a.reading_warnings;
  for (const std::vector<std::string>* lines : {&a.console.warnings(), &poorly_determined})
    summary.warnings.insert(summary.warnings.end(), lines->begin(), lines->end());
  summary.units = units_read(a.files.inputs);
  a.files.machine = Result_set::Machine_files{
      results_csv(summary), [summary = std::move(summary)](const Analysis_record& record,
                                                           const std::vector<std::string>& files) {
        return results_json(summary, record, files);
      }};
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

// ---------------------------------------------------------------------------
// The analysis without a dialogue: the same steps, the answers taken from
// the settings.

// The stem of the settings (or the first curve's path without .CRV),
// checked and locked.
void open_scripted_files(Analysis& a) {
  std::string stem = a.script->stem;
  if (stem.empty() && !a.script->curves.empty()) {
    stem = a.script->curves.front();
    for (const char* extension : {".CRV", ".crv"})
      if (stem.ends_with(extension)) stem.resize(stem.size() - 4);
  }
  a.files.stem = stem;
  const std::optional<std::string> unwritable = lock_stem(a);
  if (!unwritable) return;
  if (unwritable->empty())
    throw Fit_refused("another analysis is writing the results of " + stem +
                      " now; choose another stem (--stem)");
  throw Fit_refused("cannot create " + *unwritable +
                    " (check that the folder exists and is writable)");
}

void read_scripted_curves(Analysis& a) {
  a.console.clear_warnings();
  const std::string fault =
      read_named_curves(a.console, a.script->curves, a.curves, a.params, a.script->units);
  if (!fault.empty()) throw Fit_refused(fault);
  if (const auto unwritable = start_results(a)) throw Fit_refused("cannot create " + *unwritable);
}

// The numbers of sites to fit, in order: the one of the settings last.
std::vector<int> planned_sites(const Fit_settings& settings) {
  if (!settings.compare) return {settings.sites};
  return {3 - settings.sites, settings.sites};
}

// The values the settings give, fixed ones and starting ones.
std::vector<Named_value> given_values(const Fit_settings& settings) {
  std::vector<Named_value> given = settings.hold.value_or(std::vector<Named_value>{});
  given.insert(given.end(), settings.start.begin(), settings.start.end());
  return given;
}

// A fresh parameter vector of the model with `sites` sites, without a word
// on the console.
void name_parameters(Fit_parameters& p, int sites) {
  p.n_sites = sites;
  for (auto& name : p.name) name.clear();
  setup_parameter_names(p);
  considered_parameter_names(p);
  p.accepted = p.value;
  p.shared_link.fill(0);
}

// Every setting checked against every model to be fitted, before anything
// is fitted or written: each name must be a parameter of one of them, no
// parameter may be both held and started, and each model must be fittable
// with the values given.
void check_settings(const Analysis& a) {
  const Fit_settings& settings = *a.script;
  std::vector<std::string> known;  // in the order of the parameter vector
  for (const int sites : planned_sites(settings)) {
    Fit_parameters p = a.params;
    name_parameters(p, sites);
    hold_constants(p, settings.hold);
    const std::string model = std::to_string(sites) + (sites == 1 ? " site" : " sites");
    if (const auto fault = variable_count_fault(p))
      throw Fit_refused("with " + model + ", " + *fault + " Hold more of them (--hold).");
    if (const auto fault = set_initial_values(p, given_values(settings))) throw Fit_refused(*fault);
    for (int slot = 0; slot < p.n_params; ++slot)
      if (std::find(known.begin(), known.end(), p.name[slot]) == known.end())
        known.push_back(p.name[slot]);
    for (const Named_value& start : settings.start) {
      for (int slot = 0; slot < p.n_params; ++slot)
        if (p.name[slot] == start.name && p.is_constant[slot])
          throw Fit_refused("--start " + start.name +
                            " names a constant; give its value with --hold " + start.name +
                            "=VALUE");
    }
  }
  for (const std::vector<Named_value>* list :
       {&settings.start, settings.hold ? &*settings.hold : nullptr}) {
    if (!list) continue;
    for (const Named_value& named : *list) {
      if (std::find(known.begin(), known.end(), named.name) != known.end()) continue;
      std::string names;
      for (const std::string& name : known) names += " " + name;
      throw Fit_refused(named.name + " is no parameter of this analysis (its parameters are" +
                        names + ")");
    }
  }
}

// The set-up of one pass of `sites` sites from the settings, up to the start
// of fitting: the same steps as set_up_pass with every answer left blank.
void set_up_scripted_pass(Analysis& a, int sites) {
  Fit_parameters& p = a.params;
  const Fit_settings& settings = *a.script;
  a.console.clear_warnings();
  p.n_sites = sites;
  print_binding_model_info(a.console, a.curves, p);
  start_parameter_vector(a.console, p);
  hold_constants(p, settings.hold);
  if (const auto fault = set_initial_values(p, given_values(settings))) throw Fit_refused(*fault);
  a.all_saturation = all_saturation_curves(a.curves, p);
  a.estimation.tied.fill(false);
  if (a.all_saturation && saturation_of_both_ligands(a.curves, p))
    fix_redundant_parameters(a.console, p, a.estimation.tied);
  warn_ratio_only(a.console, a.curves, p);
  p.n_params_check = get_total_npar(p);
  a.reuse_values = false;
  if (settings.estimates) {
    automatic_estimates(a);
    apply_start_values(p, settings.start);
  }
  apply_redundant_values(p, a.estimation.tied);
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

int run_scripted_analysis(Console& console, Curve_table& curves, Fit_parameters& fit_params,
                          Fit_outcome& outcome, Fit_results& results, Plot_mode& plots,
                          const std::string& command_line, const Fit_settings& settings) {
  Analysis a(console, curves, fit_params, outcome, results, plots, command_line);
  a.script = &settings;
  open_scripted_files(a);
  read_scripted_curves(a);
  try {
    check_settings(a);
  } catch (const Fit_refused&) {
    deallocate_all_curves(curves, fit_params.n_curves);
    throw;
  }
  int status = 0;
  for (const int sites : planned_sites(settings)) {
    set_up_scripted_pass(a, sites);
    if (interruption_requested()) end_interrupted(a);
    if (!fit(a)) {
      status = 1;
      break;
    }
    report(a);
    if (interruption_requested()) end_interrupted(a);
    keep_pass_values(a.params);
  }
  close_analysis(a, "Receptor binding analysis complete.",
                 "No fit was made; earlier results of " + a.files.stem + " are unchanged.");
  console.empty_line();
  if (!a.files.not_saved.empty()) {
    std::string names;
    for (const std::string& name : a.files.not_saved) names += (names.empty() ? "" : ", ") + name;
    throw Fit_refused("cannot write " + names + " (check that the folder is writable)");
  }
  return status;
}

}  // namespace kelvora
