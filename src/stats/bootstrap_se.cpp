#include "stats/bootstrap_se.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>

#include "fit/binding_problem.hpp"
#include "fit/minimisers.hpp"
#include "fit/tunnel_search.hpp"
#include "params/parameter_vector.hpp"
#include "stats/fit_statistics.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

// Gives a resampled curve its arrays, at least n points long.
void allocate_points(Curve_data& curve, int n) {
  allocate_curve_data(curve);
  if (n <= max_points) return;
  curve.total.resize(n);
  for (auto* column : {&curve.bound, &curve.replicates}) column->resize(n);
}

// Loads the starting variables into the private copy p and refits the private
// curve set: tunnel move (from rng after before_tunnel), simplex, two
// Levenberg-Marquardt runs. The refit is
// kept when it ends no worse than twice the SS it started from (a NaN on
// either side is a failure); params then receives the refitted variables.
bool refit_private_copy(const Curve_table& set, const Fit_parameters& p,
                        std::vector<double>& params, Random_generator& rng,
                        const Seeding& before_tunnel) {
  const Binding_problem problem(set, p);
  Search_state state;
  state.n = p.n_var;
  std::copy(params.begin(), params.begin() + state.n, state.value.begin());
  state.accept();
  const double s0 = evaluate(problem, state);
  before_tunnel(rng);
  tunnel_search_kelvora3(problem, state, rng);
  nelder_mead_simplex(problem, state, 100);
  optimize_fit_simple(problem, state, 100);
  optimize_fit_simple(problem, state, 200);
  const double s1 = state.ss;
  if (!(2.0 * s0 >= s1)) return false;
  std::copy(state.value.begin(), state.value.begin() + state.n, params.begin());
  return true;
}

// Stores the errors and intervals, and whether the data can give them a
// meaning at all.
void store_in(Fit_outcome& opt, const Bootstrap_results& results, const Curve_table& curves,
              const Fit_parameters& fit_params) {
  for (int j = 0; j < fit_params.n_var && j < max_var; ++j) {
    opt.se[j] = results.std_error[j];
    opt.ci_lower[j] = results.ci_lower[j];
    opt.ci_upper[j] = results.ci_upper[j];
  }
  // An interrupted run with too few replicates has none to give.
  opt.has_intervals =
      results.n_not_run == 0 || results.n_converged >= min_replicates_after_interruption;
  opt.determinacy = data_determinacy(curves, fit_params, opt.ss);
}

std::string heading_rule() {
  return " " + rule('=', 45);
}

}  // namespace

void fill_resampled_curve(const Curve_data& first, const Point_columns& sample, Curve_data& curve) {
  const int n = sample.rows();
  curve.file_name = "bootstrap_sample";
  curve.n_points = n;
  curve.varying_ligand = first.varying_ligand;
  curve.labelled_ligand = first.labelled_ligand;
  curve.weight_coef = first.weight_coef;
  curve.unit = first.unit;
  allocate_points(curve, n);
  for (int i = 0; i < n; ++i) {
    // The objective recomputes every weight as r / variance(Yhat): the
    // replicate count must travel with its point.
    curve.replicates[i] = sample.r[i];
    curve.total_of(i, curve.varying_ligand) = sample.x[i];
    if (!first.is_saturation_curve()) {
      // The ligands that do not vary keep the first curve's concentrations.
      for (int l = 1; l <= max_ligands; ++l) {
        if (l != curve.varying_ligand) curve.total_of(i, l) = first.total_of(0, l);
      }
    }
    curve.bound[i] = sample.y[i];
  }
}

bool fit_wrapper(const Curve_table& curves, const Fit_parameters& fit_params,
                 const Point_columns& sample, std::vector<double>& params, Random_generator& rng,
                 const Seeding& before_tunnel) {
  Curve_table set;
  fill_resampled_curve(curves[0], sample, set[0]);
  Fit_parameters p = fit_params;
  p.n_curves = 1;
  p.n_points = set[0].n_points;
  return refit_private_copy(set, p, params, rng, before_tunnel);
}

bool fit_wrapper_multi(const Curve_table& curves, const Fit_parameters& fit_params,
                       std::vector<double>& params, Random_generator& rng,
                       const Seeding& before_tunnel) {
  Curve_table set;
  std::vector<int> idx;
  for (int c = 0; c < fit_params.n_curves; ++c) {
    const Curve_data& from = curves[c];
    Curve_data& to = set[c];
    to.file_name = from.file_name;
    to.n_points = from.n_points;
    to.varying_ligand = from.varying_ligand;
    to.labelled_ligand = from.labelled_ligand;
    to.weight_coef = from.weight_coef;
    to.unit = from.unit;
    allocate_points(to, from.n_points);
    generate_bootstrap_indices(from.n_points, idx, rng);
    for (int i = 0; i < from.n_points; ++i) {
      to.total[i] = from.total[idx[i]];
      to.bound[i] = from.bound[idx[i]];
      to.replicates[i] = from.replicates[idx[i]];
    }
  }
  Fit_parameters p = fit_params;
  return refit_private_copy(set, p, params, rng, before_tunnel);
}

Bootstrap_results calculate_bootstrap_se_kelvora(Console& console, Curve_table& curves,
                                                 const Fit_parameters& fit_params, Fit_outcome& opt,
                                                 int B, Random_generator& rng,
                                                 const Seeding& before_tunnel) {
  Point_columns points;
  for (int c = 0; c < fit_params.n_curves; ++c) {
    const Curve_data& curve = curves[c];
    for (int i = 0; i < curve.n_points; ++i) {
      points.x.push_back(curve.total_of(i, curve.varying_ligand));
      points.y.push_back(curve.bound[i]);
      points.r.push_back(curve.replicates[i]);
    }
  }
  const int P = fit_params.n_var;
  std::vector<double> start(P);
  read_variables(fit_params, start.data());

  console.exact(heading_rule());
  console.exact("  BOOTSTRAP STANDARD ERROR CALCULATION");
  console.exact("  Efron, Ann. Statist. 7, 1-26 (1979)");
  console.exact(heading_rule());
  console.exact(" Using " + fmt_i0(B) + " bootstrap samples");
  console.empty_line();

  const Curve_table& data = curves;
  const Point_refit refit = [&](const Point_columns& sample, std::vector<double>& params,
                                Random_generator& own) {
    return fit_wrapper(data, fit_params, sample, params, own, before_tunnel);
  };
  Bootstrap_results results;
  calculate_bootstrap_se(console, points, start, B, results, refit, rng, true);
  store_in(opt, results, curves, fit_params);
  print_bootstrap_results_kelvora(console, fit_params, opt, results);
  return results;
}

Bootstrap_results calculate_bootstrap_se_kelvora_multi(Console& console, Curve_table& curves,
                                                       const Fit_parameters& fit_params,
                                                       Fit_outcome& opt, int B,
                                                       Random_generator& rng,
                                                       const Seeding& before_tunnel) {
  console.empty_line();
  console.exact(heading_rule());
  console.exact("  MULTI-CURVE BOOTSTRAP SE CALCULATION");
  console.exact(heading_rule());
  console.exact(" Using " + fmt_i0(B) + " bootstrap samples");
  console.exact(" Number of curves: " + fmt_i0(fit_params.n_curves));
  console.empty_line();

  Bootstrap_results results;
  const Curve_refit refit = [&before_tunnel](const Curve_table& data, const Fit_parameters& fitted,
                                             std::vector<double>& params, Random_generator& own) {
    return fit_wrapper_multi(data, fitted, params, own, before_tunnel);
  };
  calculate_bootstrap_se_multicurve(console, curves, fit_params, B, results, refit, rng, true);
  store_in(opt, results, curves, fit_params);
  print_bootstrap_results_kelvora(console, fit_params, opt, results);
  return results;
}

void print_bootstrap_results_kelvora(Console& console, const Fit_parameters& fit_params,
                                     const Fit_outcome& opt, const Bootstrap_results& results) {
  const std::string bar = " " + rule('=', 44);
  const int P = fit_params.n_var;
  // Errors and intervals of parameters the data do not determine would be
  // zero-width: only the values are shown.
  const bool determined = opt.determinacy == Determinacy::determined;
  const Console::Unmuted final_table(console);
  console.empty_line();
  console.exact(bar);
  console.exact("  NONLINEAR REGRESSION PARAMETER RESULTS");
  console.exact(bar);
  if (results.samples.empty()) {
    console.exact("  No bootstrap was run: the parameters have no standard errors.");
  } else {
    console.exact("  Converged: " + fmt_i0(results.n_converged) +
                  " / Failed: " + fmt_i0(results.n_failed));
  }
  console.empty_line();
  console.exact(blanks(5) + "Parameter" + blanks(6) + "Value" + blanks(9) + "Std Error" +
                blanks(5) + "CV%" + blanks(6) + "95% CI" + blanks(15) + "Status");
  console.exact(rule('-', 87));
  for (int k = 0; k < fit_params.n_params; ++k) {
    const double value = fit_params.value[k];
    const std::string_view name = trim_right(fit_params.name[k]);
    std::string row = "  " + fmt_a(name, 12) + " " + fmt_es(value, 14, 4) + " ";
    const int v = fit_params.var_of_param[k];
    if (fit_params.is_constant[k]) {
      console.exact(row + "     ---      " + " " + "  ---  " + " " + "    ---    " + " " +
                    "    ---    " + " (FIXED)");
      continue;
    }
    if (v < 0 || v >= P) {
      console.exact(row + " (ERROR: var_map issue)");
      continue;
    }
    const bool has_se = v < static_cast<int>(results.std_error.size());
    const double se = has_se ? results.std_error[v] : std::nan("");
    if (!determined || !std::isfinite(se)) {
      console.exact(trim_right(row));  // no standard error: the value alone
    } else {
      const double cv = std::abs(value) > 1e-30 ? 100.0 * se / std::abs(value) : 0.0;
      row += fmt_es(se, 14, 4) + " ";
      row += (cv >= 999.9 || std::isnan(cv)) ? fmt_a("999 %", 7) : fmt_f(cv, 7, 1) + "%";
      console.exact(row + " " + fmt_es(results.ci_lower[v], 11, 4) + " " +
                    fmt_es(results.ci_upper[v], 11, 4));
    }
    // Kd and Bmax also in the nearer of nM and pM.
    if (!name.empty() && name.front() == 'K' && value > 0.0) {
      console.exact("          (Kd = " + fmt_es(1.0 / value, 14, 6) +
                    " M = " + familiar_concentration(1.0 / value) + ")");
    } else if (!name.empty() && name.front() == 'R' && value > 0.0) {
      console.exact("          (Bmax = " + familiar_concentration(value) + ")");
    }
  }
  console.exact(bar);
  if (determined) {
    for (const std::string& line :
         wide_error_note(fit_params, results.std_error, results.ci_lower, results.ci_upper))
      console.free_form(line);
  } else {
    console.exact(determinacy_warning(opt.determinacy));
  }
  console.empty_line();
  const Fit_statistics stats = fit_statistics(fit_params.n_points, P, opt.ss);
  console.exact("SUM OF SQUARED RESIDUALS (SSQ) = " + fmt_es(stats.ss, 14, 6));
  console.exact("RESIDUAL VARIANCE (MSE) = " + fmt_es(stats.mse, 14, 6));
  console.exact("AKAIKE INFORMATION CRITERION (AIC) = " + fmt_es(stats.aic, 14, 6));
  console.exact("DEGREES OF FREEDOM = " + fmt_i(stats.df, 4));
  console.empty_line();
}

std::vector<std::string> wide_error_note(const Fit_parameters& params, std::span<const double> se,
                                         std::span<const double> ci_lower,
                                         std::span<const double> ci_upper) {
  const int columns = static_cast<int>(std::min({se.size(), ci_lower.size(), ci_upper.size()}));
  std::vector<std::string_view> names;
  for (int slot = 0; slot < params.n_params; ++slot) {
    const int v = params.var_of_param[slot];
    if (params.is_constant[slot] || v < 0 || v >= params.n_var || v >= columns) continue;
    if (se[v] > ci_upper[v] - ci_lower[v]) names.push_back(trim_right(params.name[slot]));
  }
  if (names.empty()) return {};
  // "N1", "K11 and N1", "K11, R1 and N1".
  std::string list(names.front());
  for (std::size_t i = 1; i < names.size(); ++i)
    list += (i + 1 == names.size() ? " and " : ", ") + std::string(names[i]);
  return {"NOTE: The bootstrap replicates of " + list +
              " include outliers (SE above the width of the 95% interval);",
          "the 95% interval is the better guide to the uncertainty."};
}

std::string bootstrap_samples_text(const Bootstrap_results& results,
                                   const Fit_parameters& fit_params) {
  const int P = fit_params.n_var;
  std::ostringstream out;
  out << "# Bootstrap_Sample";
  for (int j = 0; j < P; ++j) out << ' ' << trim_right(fit_params.name[fit_params.var_map[j]]);
  out << '\n';
  for (std::size_t b = 0; b < results.samples.size(); ++b) {
    out << fmt_i(static_cast<long long>(b) + 1, 6);
    // A failed replicate has no values: its row says NaN, which programs
    // that read the file take for a missing value.
    for (int j = 0; j < P; ++j) {
      const double x = results.samples[b][j];
      out << ' ' << (std::isnan(x) ? fmt_a("NaN", 15) : fmt_es(x, 15, 6));
    }
    out << '\n';
  }
  return out.str();
}

}  // namespace kelvora
