#include <string>
#include <vector>

#include "params/dialogues.hpp"
#include "params/parameter_vector.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

constexpr std::size_t list_length = 200;

// The tokens of a line separated by one or more blanks (a comma belongs to
// its token).
std::vector<std::string> blank_separated(std::string_view line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) tokens.emplace_back(line.substr(start, i - start));
  }
  return tokens;
}

}  // namespace

void setup_constant_parameters(Console& console, const Curve_table&, Fit_parameters& params) {
  const std::string heading_rule = rule('=', 41);
  console.empty_line();
  console.empty_line();
  console.exact(heading_rule);
  console.exact("  CONSTANT (FIXED) PARAMETERS");
  console.exact(heading_rule);
  console.empty_line();
  if (params.n_curves > 1) {
    console.exact("NOTE: Consider setting C's to variables (not constant)");
    console.exact("when more than one curve is being curve-fit.");
    console.exact("In this case, reset defaults without C's as constants.");
    console.exact("(Ci=Correction factor for curve i typically = 1.0)");
    console.empty_line();
  }
  console.exact("Enter constant parameter names separated by a space.");
  console.exact("Press ENTER to accept default names in brackets [ ].");
  console.exact("Enter \"NONE\" for no fixed parameters.");
  console.exact(params.n_sites == 1 ? "Example: K11 R1 N1 C1 B1"
                                    : "Example: K11 K12 R1 R2 N1 C1 B1 B2");
  console.empty_line();

  // The default list: every parameter whose value is exactly 1, together
  // with those already constant; each name preceded by a blank.
  std::string defaults;
  for (int slot = 0; slot < params.n_params; ++slot) {
    if (params.value[slot] == 1.0) params.is_constant[slot] = true;
    if (params.is_constant[slot]) defaults += " " + params.name[slot];
  }
  if (defaults.empty()) defaults = "NONE";
  const std::string prompt =
      "LIST OF CONSTANT PARAMETERS [DEFAULT:" + std::string(trim_right(defaults)) + "]: ";

  // A name that matches no parameter is most likely a misspelt one (NI for
  // N1): taking the rest of the line would fit the parameter meant to be
  // held, so the whole list is asked again.
  for (;;) {
    console.prompt(prompt);
    std::string line = console.answer(list_length);
    if (is_blank(line)) line = defaults;
    line = uppercase(line);
    params.is_constant.fill(false);
    if (trim(line) == "NONE") return;

    bool all_found = true;
    for (const std::string& token : blank_separated(trim(line))) {
      bool found = false;
      for (int slot = 0; slot < params.n_params && !found; ++slot) {
        if (token == params.name[slot]) {
          params.is_constant[slot] = true;
          found = true;
        }
      }
      if (!found) console.exact("WARNING: Parameter \"" + token + "\" not found!");
      all_found = all_found && found;
    }
    if (all_found) break;
    params.is_constant.fill(false);
    std::string names;
    for (int slot = 0; slot < params.n_params; ++slot) names += " " + params.name[slot];
    console.exact("Enter the whole list again; the parameters are:" + names);
  }
  console.empty_line();
}

void choose_constant_parameters(Console& console, const Curve_table& curves,
                                Fit_parameters& params) {
  for (;;) {
    setup_constant_parameters(console, curves, params);
    const int n_variable = count_variable_parameters(params);
    if (n_variable > max_var) {
      console.exact("ERROR: " + fmt_i0(n_variable) + " parameters would be fitted, but at most " +
                    fmt_i0(max_var) + " can be fitted together.");
      console.exact("       Hold more parameters constant (for example the C's).");
    } else if (n_variable >= params.n_points) {
      console.exact("ERROR: " + fmt_i0(n_variable) + " parameters would be fitted to " +
                    fmt_i0(params.n_points) +
                    " data points; the points must outnumber the fitted parameters.");
      console.exact("       Hold more parameters constant.");
    } else {
      break;
    }
  }
  setup_variable_map(params);
}

}  // namespace kelvora
