#include <string>
#include <vector>

#include "params/dialogues.hpp"
#include "params/parameter_vector.hpp"
#include "params/scripted_setup.hpp"
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
  const std::string defaults = mark_default_constants(params);
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
    const std::optional<std::string> fault = variable_count_fault(params);
    if (!fault) break;
    console.exact("ERROR: " + *fault);
    console.exact(count_variable_parameters(params) > max_var
                      ? "       Hold more parameters constant (for example the C's)."
                      : "       Hold more parameters constant.");
  }
  setup_variable_map(params);
}

}  // namespace kelvora
