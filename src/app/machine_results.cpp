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
  if (p.is_constant[slot] || v < 0 || v >= p.n_var ||
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

// Windows-1252 characters 0x80-0x9F as Unicode (0 where the code page has
// none); bytes 0xA0-0xFF are U+00A0-U+00FF, as in Latin-1.
constexpr char16_t cp1252_high[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80                   ? 1
                       : lead >= 0xC2 && lead < 0xE0 ? 2
                       : lead >= 0xE0 && lead < 0xF0 ? 3
                       : lead >= 0xF0 && lead < 0xF5 ? 4
                                                     : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (int k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// User text (titles, file names) for the UTF-8 file: as it is when it is
// UTF-8 already, otherwise read as Windows-1252, the code page the program's
// own competition report uses. A byte the code page leaves undefined becomes
// U+FFFD.
std::string utf8_text(std::string_view text) {
  if (valid_utf8(text)) return std::string(text);
  std::string utf8;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    char32_t code = byte;
    if (byte >= 0x80 && byte < 0xA0)
      code = cp1252_high[byte - 0x80] ? cp1252_high[byte - 0x80] : 0xFFFD;
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return utf8;
}

// A title without the double quotes that normally enclose it.
std::string_view unquoted(std::string_view title) {
  if (title.size() >= 2 && title.front() == '"' && title.back() == '"')
    title = title.substr(1, title.size() - 2);
  return title;
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
          {"file", utf8_text(trim_right(r.file_name))},
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

std::string units_read(const std::vector<Input_record>& inputs) {
  std::string units;
  bool one_unit = true;
  for (const Input_record& input : inputs) {
    one_unit = one_unit && input.unit == inputs.front().unit;
    units += (units.empty() ? "" : ",") + input.unit;
  }
  return one_unit && !inputs.empty() ? inputs.front().unit : units;
}

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
  j["command_line"] = utf8_text(record.command_line);
  ordered_json inputs = ordered_json::array();
  for (const Input_record& input : record.inputs)
    inputs.push_back({{"file", utf8_text(input.file)},
                      {"title", utf8_text(unquoted(input.title))},
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
                    {"file", c < s.curve_names.size() ? utf8_text(s.curve_names[c]) : ""},
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
  ordered_json warnings = ordered_json::array();
  for (const std::string& warning : s.warnings) warnings.push_back(utf8_text(warning));
  j["warnings"] = warnings;
  ordered_json names = ordered_json::array();
  for (const std::string& file : files) names.push_back(utf8_text(file));
  j["files"] = names;
  j["interrupted"] =
      record.interruption.empty() ? ordered_json(nullptr) : ordered_json(record.interruption);
  // Every text from the user went through utf8_text; the handler only keeps
  // a byte that escaped it from ending the program.
  return j.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace kelvora
