#pragma once
// The two parameter dialogues of a set-up pass: which parameters are held
// constant, and the value of every parameter (the fixed value of a constant
// one, the starting estimate of a fitted one); and the questions of the pass
// around them. All raise Input_ended when the console input ends at one of
// their prompts.

#include <string>

#include "data/records.hpp"

namespace kelvora {

class Console;

// Proposes the parameters whose value is exactly 1 (and those already
// constant) as the default list, reads the list of constant parameters
// (names in any case, separated by blanks; NONE for none) and sets the
// constant flags of every slot accordingly. A list holding a name that is no
// parameter's is refused with a warning and asked again.
void setup_constant_parameters(Console& console, const Curve_table& curves, Fit_parameters& params);

// The constant-parameter question (setup_constant_parameters), asked again
// while more parameters would be fitted than the minimisers can take
// (max_var), or than there are points to determine them; then the variable
// map of params and opt.
void choose_constant_parameters(Console& console, const Curve_table& curves,
                                Fit_parameters& params);

// What a constant parameter is offered at in the estimates dialogue: its
// typical value (the first dialogue of a set-up, after the constants were
// chosen), or its current value (a later dialogue of the same set-up, which
// must not replace the fixed values the user has already given).
enum class Constant_offer { typical_value, current_value };

// Asks for the value of every parameter: constant ones first, each offered at
// its typical value or its current value (`offer`), then the fitted ones, each
// offered at its current value (or the typical value when that is 0). Values
// below 1.0E-15 are raised to 1.0E-15; each answer is stored in both value and
// accepted. An answer that holds more than one number (such as 2,5E-10 typed
// with a decimal comma) is asked again. Slots marked in `keep` are not asked
// and keep their values.
void get_initial_parameters(Console& console, Fit_parameters& params,
                            const std::array<bool, max_params>& keep = {},
                            Constant_offer offer = Constant_offer::typical_value);

// The typical value of parameter `slot` by its name: K..1 1e9, K..2 1e8, R1
// 1e-10, other R 1e-9, N 1e-3, anything else 1.
void set_smart_default_estimate(Fit_parameters& params, int slot);

// The two-site note on the usual order of affinities and capacities.
void print_parameter_ordering_hints(Console& console, const Fit_parameters& params);

// The table of all parameters with value, status and shared-group number.
void print_parameter_summary(Console& console, const Fit_parameters& params);
// The same under the heading PARAMETER SUMMARY BEFORE FITTING, and an empty
// line after it.
void print_summary_before_fitting(Console& console, const Fit_parameters& params);

// The number of binding sites, 1 or 2, asked until one of them is given.
int ask_number_of_sites(Console& console);
// A fresh parameter vector for the model of `params` (see
// setup_parameter_names), its names listed as the parameters to consider;
// the accepted values are the same, and there is no backup and no link.
void start_parameter_vector(Console& console, Fit_parameters& params);
// Names the affinities and nonspecific ratio of every ligand that the data
// can only determine as ratios (see ratio_only_parameters).
void warn_ratio_only(Console& console, const Curve_table& curves, const Fit_parameters& params);
// The question whether to fit now; false, after saying that the set-up
// starts again, when the answer begins with N.
bool proceed_with_fitting(Console& console);
// A yes/no `question` answered by the first two characters of a line, a
// blank answer being Y; the answer is echoed ("You selected ..."), and only
// a plain Y or y is a yes.
bool ask_yes(Console& console, const std::string& question);

}  // namespace kelvora
