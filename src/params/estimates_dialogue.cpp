#include <cmath>
#include <string>

#include "params/dialogues.hpp"
#include "params/parameter_vector.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

constexpr double smallest_value = 1.0e-15;

// A bound of an entry range as the user reads it: 0, or 1.0E+20.
std::string bound_text(double bound) {
  return bound == 0.0 ? "0" : std::string(trim(fmt_es(bound, 12, 1)));
}

// Asks one value: a blank answer keeps the offered value, a number replaces
// it, anything else is refused with one line and asked again; so is a value,
// kept or typed, outside the entry range of the parameter's kind. The result
// is raised to the smallest value and stored in both value and accepted.
void ask_value(Console& console, Fit_parameters& params, int slot, const std::string& prompt) {
  const Entry_range range = entry_range(parameter_kind(params, slot));
  double result = params.value[slot];
  for (;;) {
    console.prompt(prompt);
    const std::string line = console.answer();
    result = params.value[slot];
    if (!is_blank(line)) {
      const auto items = split_items(line);
      const auto number = parse_real(items.front());
      // "2,5E-10" typed with a decimal comma reads as the two numbers 2 and
      // 5E-10: never take the first of them silently.
      const bool several = items.size() > 1 && parse_real(items[1]).has_value();
      if (several) {
        console.exact("Please enter one number: \"" + std::string(trim(line)) +
                      "\" holds several (decimals take a point, e.g. 2.5E-10)");
        continue;
      }
      if (!number || !std::isfinite(*number)) {
        console.exact("Please enter a number (for example 2.5E-10), or press ENTER to keep " +
                      std::string(trim(fmt_es(params.value[slot], 12, 5))));
        continue;
      }
      result = *number;
    }
    if (result >= range.lower && result <= range.upper) break;
    console.exact("ERROR: " + std::string(trim_right(params.name[slot])) + " must lie between " +
                  bound_text(range.lower) + " and " + bound_text(range.upper) +
                  (*range.unit ? " " : "") + range.unit + "; enter it again.");
  }
  if (result < smallest_value) result = smallest_value;
  params.value[slot] = result;
  params.accepted[slot] = result;
}

}  // namespace

void set_smart_default_estimate(Fit_parameters& params, int slot) {
  const std::string& name = params.name[slot];
  double typical = 1.0;
  switch (name.empty() ? ' ' : name[0]) {
    case 'K':
      typical = name.size() > 2 && name[2] == '2' ? 1.0e8 : 1.0e9;
      break;
    case 'R':
      typical = name.size() > 1 && name[1] == '1' ? 1.0e-10 : 1.0e-9;
      break;
    case 'N':
      typical = 1.0e-3;
      break;
    default:
      break;
  }
  params.value[slot] = typical;
}

void print_parameter_ordering_hints(Console& console, const Fit_parameters& params) {
  if (params.n_sites < 2) return;
  console.empty_line();
  console.free_form("NOTE: For two-site models, typical ordering is:");
  console.free_form("  Site 1: High affinity (K*1), Low capacity (R/10)");
  console.free_form("  Site 2: Low affinity (K/10), High capacity (R*10)");
  console.free_form("  Example: K11= 1.E9, K12= 1.E8, R1= 1.E-10, R2= 1.E-9");
  console.empty_line();
}

void get_initial_parameters(Console& console, Fit_parameters& params,
                            const std::array<bool, max_params>& keep, Constant_offer offer) {
  const std::string heading_rule = rule('=', 41);
  console.empty_line();
  console.free_form(heading_rule);
  console.free_form("  INITIAL PARAMETER ESTIMATES");
  console.free_form(heading_rule);
  console.empty_line();
  console.free_form("Enter initial estimates for the following parameters.");
  console.free_form("Press ENTER to accept default value in brackets [].");
  console.empty_line();
  for (const char* line :
       {"PARAMETER GUIDE:", "  Kij = Equilibrium constant for ligand i, site j [M^-1]",
        "        Site 1 (high affinity): ~1E9 (Kd ~ 1 nM)",
        "        Site 2 (low affinity):  ~1E8 (Kd ~ 10 nM)",
        "  Ri  = Receptor concentration for site i [M]",
        "        Site 1 (low capacity):  ~1E-10 (0.1 nM)",
        "        Site 2 (high capacity): ~1E-9 (1.0 nM)",
        "  Ni  = Nonspecific binding parameter for ligand i",
        "        Typical range: 1E-3 to 1E-2 (0.1-1%)",
        "  Ci  = Correction factor for curve i (usually 1.0)",
        "  Bi  = Cooperativity for site i (1.0 = no cooperativity)"})
    console.free_form(line);
  console.empty_line();

  for (int slot = 0; slot < params.n_params; ++slot) {
    if (!params.is_constant[slot] || keep[slot]) continue;
    if (offer == Constant_offer::typical_value) set_smart_default_estimate(params, slot);
    ask_value(console, params, slot,
              params.name[slot] + " = [" + fmt_es(params.value[slot], 12, 5) + "]: ");
  }

  console.empty_line();
  console.free_form("VARIABLE PARAMETERS (parameters to be fitted):");
  console.empty_line();
  print_parameter_ordering_hints(console, params);
  console.empty_line();
  console.free_form("ENTER NEW PARAMETER ESTIMATES OR ACCEPT DEFAULTS:");
  console.empty_line();

  for (int slot = 0; slot < params.n_params; ++slot) {
    if (params.is_constant[slot]) continue;
    if (params.value[slot] == 0.0) set_smart_default_estimate(params, slot);
    ask_value(console, params, slot,
              "INITIAL ESTIMATE FOR " + params.name[slot] + " [" +
                  fmt_es(params.value[slot], 12, 5) + "]: ");
    if (params.name[slot][0] == 'K')
      console.exact("  (Corresponding Kd = " + fmt_es(1.0 / params.value[slot], 12, 5) + " [M])");
  }
  console.empty_line();
}

void print_parameter_summary(Console& console, const Fit_parameters& params) {
  console.empty_line();
  console.exact(fmt_a("Parameter", 10) + "  " + fmt_a("Initial Value", 15) + "  " +
                fmt_a("Status", 12) + "  " + fmt_a("Share", 10));
  console.exact(rule('-', 60));
  int n_variable = 0;
  for (int slot = 0; slot < params.n_params; ++slot) {
    const bool constant = params.is_constant[slot];
    n_variable += constant ? 0 : 1;
    console.exact(fmt_left(params.name[slot], 10) + "  " + fmt_es(params.value[slot], 15, 6) +
                  "  " + fmt_a(constant ? "FIXED" : "VARIABLE", 12) + "  " +
                  fmt_i(params.shared_link[slot], 10));
  }
  console.empty_line();
  console.exact("Total parameters: " + fmt_i(params.n_params, 4));
  console.exact("Variable parameters: " + fmt_i(n_variable, 4));
  console.empty_line();
}

}  // namespace kelvora
