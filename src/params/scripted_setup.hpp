#pragma once
// The set-up of a fit without a dialogue: the constants, fixed values and
// starting values come from named settings instead of answers, by the same
// rules as the dialogues (dialogues.hpp) apply to answers left blank.

#include <optional>
#include <string>
#include <vector>

#include "data/records.hpp"

namespace kelvora {

// A parameter named by the user, with the value given for it, if any.
struct Named_value {
  std::string name;  // upper case, as the parameter vector names it
  std::optional<double> value;
};

// Marks the dialogue's default constants (every parameter whose value is
// exactly 1, and those already constant) and returns their names, each
// after a blank, or "NONE".
std::string mark_default_constants(Fit_parameters& params);

// Why the variable parameters of `params` cannot be fitted: more than the
// minimisers take together, or not fewer than the data points. Nothing when
// they can.
std::optional<std::string> variable_count_fault(const Fit_parameters& params);

// Holds constant the parameters `hold` names, or, without a list, the
// default constants; a name that is no parameter of this model is passed
// over (it may be one of another number of sites). Then the variable map.
void hold_constants(Fit_parameters& params, const std::optional<std::vector<Named_value>>& hold);

// The values a dialogue answered with blanks gives: each constant at its
// typical value, each fitted parameter at its current value (the typical one
// when that is 0); then the values `given` for the parameters of this model.
// Values are raised to 1.0E-15 and stored in value and accepted. A given
// value outside the entry range of its kind is refused: the reason is
// returned and nothing is changed.
std::optional<std::string> set_initial_values(Fit_parameters& params,
                                              const std::vector<Named_value>& given);

// Overrides the starting values of the fitted parameters `start` names in
// this model (value and accepted); the values have passed
// set_initial_values already.
void apply_start_values(Fit_parameters& params, const std::vector<Named_value>& start);

}  // namespace kelvora
