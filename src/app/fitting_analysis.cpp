// One analysis of main-menu choice 1: output files, curves, then set-up
// passes (sites, parameter vector, constants, starting values, estimates),
// each followed by the fixed sequence of minimisers and the reports, until
// the user wants no further fit of the same data; then the closing.

#include "app/fitting_analysis.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "competition/competition_analysis.hpp"
#include "data/assay.hpp"
#include "data/curve_reader.hpp"
#include "data/parameter_layout.hpp"
#include "fit/fit_random.hpp"
#include "fit/fit_sequence.hpp"
#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "fit/tunnel_search.hpp"
#include "params/auto_estimates.hpp"
#include "params/dialogues.hpp"
#include "params/estimation.hpp"
#include "params/parameter_vector.hpp"
#include "report/result_set.hpp"
#include "report/results.hpp"
#include "stats/bootstrap_se.hpp"
#include "stats/fit_statistics.hpp"
#include "stats/model_comparison.hpp"
#include "stats/runs_test.hpp"
#include "stats/site_preference.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/files.hpp"
#include "util/interruption.hpp"
#include "util/orderly_stop.hpp"
#include "util/random.hpp"
#include "util/stem_lock.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

// The state of one analysis, from its first prompt to its closing.
struct Analysis {
  Analysis(Console& c, Curve_table& t, Fit_parameters& p, Optimization_data& o, Fit_results& r,
           Plot_mode& m, const std::string& line)
      : console(c), curves(t), params(p), opt(o), results(r), plots(m) {
    files.command_line = line;
  }
  Console& console;
  Curve_table& curves;
  Fit_parameters& params;
  Optimization_data& opt;
  Fit_results& results;
  Plot_mode& plots;
  Result_set files;
  Stem_lock lock;
  bool fit_interrupted = false;  // the last fit stopped early
  bool all_saturation = true;
  int fits_made = 0;  // the fits reported (and their files written) so far
  double ss_initial = 0.0;  // the reference sum of squares of the pass
  double ss0 = 0.0;         // the sum of squares at the pass's starting values
  Estimation_state estimation;
  // The fit of the previous pass, compared with the next one when that has
  // a different number of sites.
  std::optional<Model_fit> last_fit;
  // This pass fits on from the previous pass's values, unchanged.
  bool reuse_values = false;
  // The warning of this pass that a ligand's site preference is undetermined.
  std::vector<std::string> preference_warning;
};

// The session's random numbers all come from the process generator, seeded
// here and nowhere else: before each tunnel move from the entropy source,
// before each polish of the quasi-Newton minimiser with the fixed seed, before
// a single-curve bootstrap from the clock, before a multi-curve one with
// multicurve_seed, and before the bootstrap of each competition curve with
// that curve's seed. Under a session seed each of these requests installs a
// seed derived from the session seed instead (util/random.hpp), so their
// order and number make the session's numbers.
Fit_random session_fit_random() {
  return {process_random(), [](Random_generator& g) { g.seed_from_entropy(); },
          [](Random_generator& g) { g.seed_fixed(); }};
}

Random_generator& seeded_for_bootstrap(int n_curves) {
  Random_generator& rng = process_random();
  if (n_curves == 1)
    rng.seed_from_clock();
  else
    rng.seed_fixed(multicurve_seed);
  return rng;
}

void report_file_error(Console& console, const std::string& name) {
  std::error_code ec;
  const bool dangling = std::filesystem::is_symlink(std::filesystem::symlink_status(name, ec)) &&
                        !std::filesystem::exists(name, ec);
  console.exact("ERROR: Cannot create file " + name);
  console.exact(dangling ? "       (it is a link to a file that does not exist; it is left as it is);"
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
  a.params.name.fill("*");
  a.params.n_points = 0;
  if (!read_input_files(a.console, a.curves, a.params)) return false;

  a.files.start(a.curves, a.params);
  if (a.files.scatchard_wanted && !replacement_target(a.files.scatchard_name())) {
    report_file_error(a.console, a.files.scatchard_name());
    deallocate_all_curves(a.curves, a.params.n_curves);
    return false;
  }
  reorder_curves_saturation_first(a.console, a.curves, a.params);
  a.results.n_blocks = 0;
  a.fits_made = 0;
  a.last_fit.reset();
  a.all_saturation = all_saturation_curves(a.curves, a.params);
  return true;
}

// The automatic estimates, refined from saturation estimates by a short
// simplex and a random search around its point.
void automatic_estimates(Analysis& a) {
  if (!estimate_starting_values(a.console, a.curves, a.params, a.opt, a.estimation)) return;
  nelder_mead_simplex(a.curves, a.params, a.opt, 50);
  tunnel_search_kelvora3(a.curves, a.params, a.opt, session_fit_random().for_tunnel());
}

// The set-up of one pass, up to the start of fitting. False when the user
// cancels the fit.
bool set_up_pass(Analysis& a) {
  Fit_parameters& p = a.params;
  Optimization_data& opt = a.opt;
  Console& console = a.console;
  p.n_sites = ask_number_of_sites(console);
  print_binding_model_info(console, a.curves, p);
  start_parameter_vector(console, p);

  opt.lm_mode = 0;
  opt.lambda = 0.0;
  opt.ss_prev = opt.ss = 1.0e30;
  opt.lambda_start = 0.0;
  opt.beta.fill(0.0);
  for (auto& row : opt.alpha) row.fill(0.0);
  p.accepted = p.value;
  p.backup.fill(0.0);
  p.shared_link.fill(0);

  choose_constant_parameters(console, a.curves, p, opt);
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
    fix_redundant_parameters(console, p, opt, a.estimation.tied);

  warn_ratio_only(console, a.curves, p);
  if (!proceed_with_fitting(console)) return false;
  p.n_params_check = get_total_npar(p);

  // A refit from the values of the previous pass, as they are.
  a.reuse_values =
      same_model && ask_yes(console, "REFIT THE SAME DATA USING CURRENT PARAMETER VALUES (Y/N) [Y]: ");
  if (a.reuse_values) return true;
  if (!ask_yes(console, "COMPUTE AUTOMATIC PARAMETER ESTIMATES (Y/N) [Y]: ")) {
    get_initial_parameters(console, p, a.estimation.tied, Constant_offer::current_value);
    apply_redundant_values(p, a.estimation.tied);  // K2s follows a newly typed K1s
    return true;
  }
  automatic_estimates(a);
  return true;
}

// The parameter table and the sources of the model and the minimisers.
void print_fit_heading(Console& console, const Fit_parameters& p) {
  console.free_form(rule('=', 41));
  console.free_form("  PARAMETER SUMMARY BEFORE FITTING");
  console.free_form(rule('=', 41));
  print_parameter_summary(console, p);
  console.empty_line();
  console.free_form(rule('=', 45));
  console.free_form("  KELVORA LIGAND BINDING ANALYSIS");
  console.free_form("  Method of analysis:");
  console.free_form("    Anal. Biochem. 107, 220-239 (1980)");
  console.free_form("  General binding model:");
  console.free_form("    Anal. Biochem. 48, 317-338 (1972)");
  console.free_form(rule('=', 45));
  console.empty_line();
  console.empty_line();
  console.free_form(rule('=', 57));
  console.free_form("  SIMPLEX, MARQUARDT & CONJUGATE GRADIENT OPTIMIZATION");
  console.free_form("  Simplex: Comput. J. 7, 308-313 (1965)");
  console.free_form("  Damped least squares: J. Soc. Indust. Appl. Math. 11, 431-441 (1963)");
  console.free_form("  Damped least squares: Q. Appl. Math. 2, 164-168 (1944)");
  console.free_form("  Conjugate gradients: Comput. J. 7, 149-154 (1964)");
  console.free_form(rule('=', 58));
  console.empty_line();
}

// Names the values at which the sum of squares is not a number.
void report_not_a_number(Console& console, const Fit_parameters& p) {
  console.empty_line();
  console.exact("ERROR: The sum of squares is not a number at these parameter values:");
  std::string line;
  for (int i = 0; i < p.n_params; ++i) {
    const std::string item = std::string(trim_right(p.name[i])) + " = " + fmt_es(p.value[i], 12, 4);
    if (line.size() + item.size() > 66) {
      console.exact("      " + line);
      line.clear();
    }
    line += (line.empty() ? "" : ", ") + item;
  }
  if (!line.empty()) console.exact("      " + line);
  console.exact("       Nothing of this fit is written. Check the constants and the starting");
  console.exact("       values; returning to the set-up.");
}

// Starts the fit, runs the minimisers and guards the result. False when the
// sum of squares is not a number: the values before the fit are put back.
bool fit(Analysis& a) {
  Curve_table& curves = a.curves;
  Fit_parameters& p = a.params;
  Optimization_data& opt = a.opt;
  Console& console = a.console;

  const auto values_before = p.value;
  opt.lambda = 0.0;
  opt.lm_mode = 0;
  if (!a.reuse_values) apply_k_constraints_barrier(p);
  accept_current_values(p, opt);
  evaluate_model(curves, p, opt);
  a.ss0 = a.ss_initial = opt.ss;
  update_parameters(p, opt);

  print_fit_heading(console, p);
  console.exact(" Initial sum of squares: " + fmt_es(a.ss_initial, 12, 5));
  console.exact(" Residual Variance (MSE) = " +
                fmt_es(fit_statistics(p.n_points, p.n_var, a.ss_initial).mse, 12, 5));

  // The fixed sequence of minimisers and its guards, from both site
  // preferences of every ligand but ligand 1 when both its affinities are fitted.
  const bool one_curve = p.n_curves == 1;
  std::vector<Preference_fits> preferences;
  a.ss_initial =
      run_fit_sequence_both_preferences(console, curves, p, opt, session_fit_random(), preferences)
          .ss_reference;
  a.fit_interrupted = interruption_requested();

  bool not_a_number = std::isnan(opt.ss);
  for (int i = 0; i < p.n_params; ++i) not_a_number = not_a_number || std::isnan(p.value[i]);
  if (not_a_number) {
    report_not_a_number(console, p);
    p.value = values_before;
    p.accepted = values_before;
    return false;
  }

  console.empty_line();
  console.free_form(rule('=', 41));
  console.exact(one_curve ? " COMPLETED SINGLE-CURVE OPTIMIZATION"
                          : " COMPLETED MULT-CURVE OPTIMIZATION");
  if (a.ss0 > 0.0) {
    const double improvement = (a.ss0 - opt.ss) * 100.0 / a.ss0;
    console.exact(" SSQ = " + fmt_es(opt.ss, 12, 5) + " (" + fmt_f(improvement, 6, 1) +
                  "% improvement)");
  } else {
    console.exact(" SSQ = " + fmt_es(opt.ss, 12, 5) + " (it was 0 at the start)");
  }
  console.exact(" Residual Variance (MSE) = " +
                fmt_es(fit_statistics(p.n_points, p.n_var, opt.ss).mse, 12, 5));
  console.free_form(rule('=', 41));
  console.empty_line();
  a.preference_warning.clear();
  for (const Preference_fits& fits : preferences) {
    const std::vector<std::string> lines = preference_warning(p, fits);
    a.preference_warning.insert(a.preference_warning.end(), lines.begin(), lines.end());
  }
  for (const std::string& line : a.preference_warning) console.exact(line);
  if (!a.preference_warning.empty()) console.empty_line();

  opt.lm_mode = 0;
  opt.lambda = 0.0;
  a.ss_initial = opt.ss;
  opt.ss_prev = opt.ss;
  return true;
}

// The reports of a finished fit: the console's, then every result file
// (complete before any plot is shown), then the plots.
void report(Analysis& a) {
  Fit_parameters& p = a.params;
  Optimization_data& opt = a.opt;
  // Bootstrap standard errors and intervals of the fitted parameters.
  constexpr int replicates = 100;
  Bootstrap_results bootstrap;
  Random_generator& rng = seeded_for_bootstrap(p.n_curves);
  const Seeding before_tunnel = session_fit_random().before_tunnel;
  if (p.n_curves == 1) {
    bootstrap =
        calculate_bootstrap_se_kelvora(a.console, a.curves, p, opt, replicates, rng, before_tunnel);
  } else {
    bootstrap = calculate_bootstrap_se_kelvora_multi(a.console, a.curves, p, opt, replicates, rng,
                                                     before_tunnel);
    a.files.samples_text = bootstrap_samples_text(bootstrap, p);
  }
  print_bound_warnings(a.console, p);
  print_poorly_determined(a.console, p, opt);
  const std::vector<Ratio_only> ratio_only = ratio_only_parameters(a.curves, p);
  for (const Ratio_only& group : ratio_only) {
    for (const int k : group.k_slots)
      a.console.free_form("Only " + group.ratio(p, k) + " is determined by these data");
  }
  accept_current_values(p, opt);
  evaluate_model(a.curves, p, opt);

  // One site against two: after a pass whose number of sites differs from
  // the previous pass's.
  const Model_fit this_fit{p.n_sites, opt.ss, p.n_points, p.n_var};
  std::vector<std::string> comparison;
  if (a.last_fit && a.last_fit->sites != this_fit.sites) {
    comparison = model_comparison_lines(compare_models(*a.last_fit, this_fit));
    a.console.empty_line();
    for (const std::string& line : comparison) a.console.free_form(line);
  }
  a.files.add_summary(p, opt, ratio_only, a.preference_warning, comparison);
  a.last_fit = this_fit;
  ++a.fits_made;
  opt.lambda = 0.0;
  opt.lm_mode = 0;
  a.console.empty_line();
  print_detailed_results(a.console, a.curves, p, opt);
  calculate_runs(a.console, a.curves, p);

  const auto plots = a.files.add_graphics(a.console, a.curves, p, opt, a.results);
  const std::string interruption = interruption_text(a.fit_interrupted, bootstrap);
  std::optional<std::string> competition;
  if (!a.all_saturation)
    competition = competition_results_text(a.curves, p, a.results, process_random());
  a.files.commit(interruption, competition);
  if (interruption_requested()) return;  // no plot: the session ends
  a.console.flush();  // the reports are out before a window may hold the session

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
                          Optimization_data& opt_data, Fit_results& results, Plot_mode& plots,
                          const std::string& command_line) {
  Analysis a(console, curves, fit_params, opt_data, results, plots, command_line);
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
