#include "app/machine_results.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "report/result_set.hpp"
#include "stats/fit_statistics.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

using nlohmann::ordered_json;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// The errors of one parameter: its standard error and 95 % interval, NaN
// where the fit has none (no bootstrap, too few replicates, data that do not
// determine the parameters).
struct Errors {
  double se = nan;
  double lower = nan;
  double upper = nan;
};

Errors errors_of(const Fit_summary& s, int slot) {
  const Fit_parameters& p = s.params;
  const int v = p.var_of_param[slot];
  Errors e;
  if (p.is_constant[slot] || v < 0 || v >= p.n_var || s.bootstrap_replicates == 0 ||
      s.outcome.determinacy != Determinacy::determined)
    return e;
  e.se = s.outcome.se[v];
  if (s.outcome.has_intervals) {
    e.lower = s.outcome.ci_lower[v];
    e.upper = s.outcome.ci_upper[v];
  }
  return e;
}

// Kd = 1/K, its first-order error SE(K)/K^2, and the interval of K inverted.
Errors inverse(double k, const Errors& e) {
  return {e.se / (k * k), 1.0 / e.upper, 1.0 / e.lower};
}

// Kd of an affinity, Bmax of a receptor concentration: the name, the molar
// value and its errors. Nothing for other parameters.
struct Derived {
  const char* name = nullptr;
  double molar = nan;
  Errors errors;
};

Derived derived_of(const Fit_summary& s, int slot) {
  const Fit_parameters& p = s.params;
  const double value = p.value[slot];
  const Errors e = errors_of(s, slot);
  switch (p.name[slot].empty() ? ' ' : p.name[slot][0]) {
    case 'K':
      if (value > 0.0) return {"Kd", 1.0 / value, inverse(value, e)};
      return {};
    case 'R':
      return {"Bmax", value, e};
    default:
      return {};
  }
}

const char* unit_of(const std::string& name) {
  switch (name.empty() ? ' ' : name[0]) {
    case 'K':
      return "1/M";
    case 'R':
      return "M";
    default:
      return "";
  }
}

// The shortest text that reads back as x; empty when x is not finite.
std::string number(double x) {
  if (!std::isfinite(x)) return {};
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, x);
  return std::string(text, result.ptr);
}

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

ordered_json json_number(double x) {
  return std::isfinite(x) ? ordered_json(x) : ordered_json(nullptr);
}

const char* verdict_name(Runs_verdict verdict) {
  switch (verdict) {
    case Runs_verdict::significant:
      return "significant";
    case Runs_verdict::marginal:
      return "marginal";
    default:
      return "random";
  }
}

ordered_json interval(double value, const Errors& e) {
  return {{"value", json_number(value)},
          {"se", json_number(e.se)},
          {"ci95_low", json_number(e.lower)},
          {"ci95_high", json_number(e.upper)}};
}

ordered_json parameters_json(const Fit_summary& s) {
  const Fit_parameters& p = s.params;
  ordered_json parameters = ordered_json::object();
  for (int slot = 0; slot < p.n_params; ++slot) {
    const std::string name(trim_right(p.name[slot]));
    const double value = p.value[slot];
    const Errors e = errors_of(s, slot);
    ordered_json entry = interval(value, e);
    entry["cv_percent"] = json_number(100.0 * e.se / std::abs(value));
    entry["fixed"] = static_cast<bool>(p.is_constant[slot]);
    entry["unit"] = unit_of(name);
    const Derived d = derived_of(s, slot);
    if (d.name) {
      const Familiar_unit unit = familiar_unit(d.molar);
      const Errors& m = d.errors;
      ordered_json familiar = interval(
          d.molar / unit.molar, {m.se / unit.molar, m.lower / unit.molar, m.upper / unit.molar});
      familiar["unit"] = unit.name;
      familiar["molar"] = interval(d.molar, m);
      entry[d.name[0] == 'K' ? "kd" : "bmax"] = familiar;
    }
    parameters[name] = entry;
  }
  return parameters;
}

ordered_json model_fit_json(const Model_fit& fit, double aicc) {
  return {{"sites", fit.sites},
          {"ssq", json_number(fit.ss)},
          {"df", fit.df()},
          {"fitted_parameters", fit.n_var},
          {"aicc", json_number(aicc)}};
}

ordered_json comparison_json(const Model_comparison& c) {
  return {{"one_site", model_fit_json(c.simple, c.aicc_simple)},
          {"two_sites", model_fit_json(c.rich, c.aicc_rich)},
          {"two_sites_ssq_lower", c.ss_lower},
          {"f", c.testable ? json_number(c.f) : ordered_json(nullptr)},
          {"p", c.testable ? json_number(c.p) : ordered_json(nullptr)},
          {"two_sites_better", c.rich_better},
          {"two_sites_akaike_weight", json_number(c.rich_weight)}};
}

ordered_json bootstrap_json(const Bootstrap_summary& b, bool determined) {
  if (!determined) return nullptr;
  return {{"median", json_number(b.median)},
          {"ci95_low", json_number(b.lower)},
          {"ci95_high", json_number(b.upper)}};
}

ordered_json competition_json(const Competition_result& r) {
  const bool determined = r.determinacy == Determinacy::determined;
  ordered_json hill = nullptr;
  if (r.hill.status == Hill_status::fitted)
    hill = {{"slope", json_number(r.hill.slope)},
            {"se", json_number(r.hill.slope_se)},
            {"r2", json_number(r.hill.r2)},
            {"points", r.hill.n_points}};
  ordered_json ic50 = nullptr;
  if (r.ic50 > 0.0) {
    ic50 = {{"value", json_number(r.ic50)},
            {"unit", "M"},
            {"method", r.ic50_solved ? "fitted curve" : "closest point"},
            {"bootstrap", bootstrap_json(r.ic50_boot, determined)}};
  }
  ordered_json ki = nullptr;
  if (r.has_ki) {
    ki = {{"value", json_number(r.ki)},
          {"unit", "M"},
          {"bootstrap", bootstrap_json(r.ki_boot, determined)}};
  }
  return {{"curve", r.curve},
          {"file", std::string(trim_right(r.file_name))},
          {"hot_ligand", r.hot_ligand},
          {"cold_ligand", r.cold_ligand},
          {"hot", json_number(r.hot)},
          {"kd_hot", json_number(r.kd_hot_app)},
          {"bootstrap_replicates", r.n_replicates},
          {"bootstrap_successful", r.n_successful},
          {"ic50", ic50},
          {"hill", hill},
          {"ki", ki}};
}

}  // namespace

std::string results_csv(const Fit_summary& s) {
  const Fit_parameters& p = s.params;
  std::string text =
      "parameter,value,se,cv_percent,ci95_low,ci95_high,status,unit,derived,derived_value,"
      "derived_se,derived_ci95_low,derived_ci95_high,derived_unit\n";
  const auto row = [&text](std::initializer_list<std::string> fields) {
    bool first = true;
    for (const std::string& field : fields) {
      if (!first) text += ',';
      text += csv_field(field);
      first = false;
    }
    text += '\n';
  };
  for (int slot = 0; slot < p.n_params; ++slot) {
    const std::string name(trim_right(p.name[slot]));
    const double value = p.value[slot];
    const Errors e = errors_of(s, slot);
    const Derived d = derived_of(s, slot);
    std::string derived[6];
    if (d.name) {
      const Familiar_unit unit = familiar_unit(d.molar);
      derived[0] = d.name;
      derived[1] = number(d.molar / unit.molar);
      derived[2] = number(d.errors.se / unit.molar);
      derived[3] = number(d.errors.lower / unit.molar);
      derived[4] = number(d.errors.upper / unit.molar);
      derived[5] = unit.name;
    }
    row({name, number(value), number(e.se), number(100.0 * e.se / std::abs(value)), number(e.lower),
         number(e.upper), p.is_constant[slot] ? "fixed" : "fitted", unit_of(name), derived[0],
         derived[1], derived[2], derived[3], derived[4], derived[5]});
  }
  const Fit_statistics f = fit_statistics(p.n_points, p.n_var, s.outcome.ss);
  const std::pair<const char*, double> statistics[] = {{"SSQ", f.ss},
                                                       {"DF", f.df},
                                                       {"MSE", f.mse},
                                                       {"AIC", f.aic},
                                                       {"AICc", f.aicc},
                                                       {"points", f.n_points},
                                                       {"fitted_parameters", f.n_var}};
  for (const auto& [name, value] : statistics)
    row({name, number(value), "", "", "", "", "statistic", "", "", "", "", "", "", ""});
  row({"input_units", "", "", "", "", "", "setting", s.units, "", "", "", "", "", ""});
  return text;
}

std::string results_json(const Fit_summary& s, const Analysis_record& record,
                         const std::vector<std::string>& files) {
  const Fit_parameters& p = s.params;
  ordered_json j;
  j["format"] = json_format;
  j["program"] = program_version;
  j["date"] = record.date;
  j["command_line"] = record.command_line;
  ordered_json inputs = ordered_json::array();
  for (const Input_record& input : record.inputs)
    inputs.push_back({{"file", input.file},
                      {"title", input.title},
                      {"points", input.points},
                      {"sha256", input.sha256},
                      {"units", input.unit}});
  j["inputs"] = inputs;
  j["units"] = s.units;
  j["model"] = {{"sites", p.n_sites},   {"ligands", p.n_ligands},   {"curves", p.n_curves},
                {"points", p.n_points}, {"parameters", p.n_params}, {"fitted_parameters", p.n_var},
                {"fit", s.pass}};
  j["parameters"] = parameters_json(s);
  const Fit_statistics f = fit_statistics(p.n_points, p.n_var, s.outcome.ss);
  j["statistics"] = {{"ssq", json_number(f.ss)},
                     {"df", f.df},
                     {"mse", json_number(f.mse)},
                     {"aic", json_number(f.aic)},
                     {"aicc", json_number(f.aicc)}};
  j["bootstrap"] = {{"replicates", s.bootstrap_replicates},
                    {"converged", s.bootstrap_converged},
                    {"failed", s.bootstrap_failed},
                    {"not_run", s.bootstrap_not_run}};
  ordered_json runs = ordered_json::array();
  for (std::size_t c = 0; c < s.runs.size(); ++c) {
    const Curve_runs& r = s.runs[c];
    runs.push_back({{"curve", c + 1},
                    {"file", c < s.curve_names.size() ? s.curve_names[c] : std::string()},
                    {"points", r.n_points},
                    {"positive", r.counts.n_pos},
                    {"negative", r.counts.n_neg},
                    {"runs", r.counts.runs},
                    {"p", json_number(r.decision.p)},
                    {"verdict", verdict_name(r.decision.verdict)}});
  }
  j["runs_test"] = runs;
  j["comparison"] = s.comparison ? comparison_json(*s.comparison) : ordered_json(nullptr);
  ordered_json competition = ordered_json::array();
  for (const Competition_result& r : s.competition) competition.push_back(competition_json(r));
  j["competition"] = competition;
  j["warnings"] = s.warnings;
  j["files"] = files;
  j["interrupted"] =
      record.interruption.empty() ? ordered_json(nullptr) : ordered_json(record.interruption);
  // Titles and file names are the user's bytes: any that are not UTF-8 are
  // replaced rather than refused.
  return j.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace kelvora
