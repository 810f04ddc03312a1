#pragma once
// The two parameter dialogues of a set-up pass: which parameters are held
// constant, and the value of every parameter (the fixed value of a constant
// one, the starting estimate of a fitted one). Both raise Input_ended when the
// console input ends at one of their prompts.

#include "data/records.hpp"

namespace kelvora {

class Console;

// Proposes the parameters whose value is exactly 1 (and those already
// constant) as the default list, reads the list of constant parameters
// (names in any case, separated by blanks; NONE for none) and sets the
// constant flags of every slot accordingly. A list holding a name that is no
// parameter's is refused with a warning and asked again.
void setup_constant_parameters(Console& console, const Curve_table& curves, Fit_parameters& params);

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

}  // namespace kelvora
