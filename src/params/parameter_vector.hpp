#pragma once
// The named parameter vector: names and defaults of a fresh vector, the
// variable map of the parameters that are fitted, and the accepted copy.

#include "data/records.hpp"

namespace kelvora {

// Names, default values and flags of slots 1..n for the record's L, S and M;
// stores n in n_params. K, R and N start at 0 and are fitted; C<c> starts at
// 1 and is fitted except C1; B<s> starts at 1 and is constant.
void setup_parameter_names(Fit_parameters& params);

// Writes the names of slots 1..n and changes nothing else.
void considered_parameter_names(Fit_parameters& params);

// The number of parameters that are not constant.
int count_variable_parameters(const Fit_parameters& params);

// Builds var_map, var_of_param and n_var from the constant flags, in slot
// order, and clears the damping factor of `opt`. The caller keeps the number
// of variable parameters within max_var.
void setup_variable_map(Fit_parameters& params, Optimization_data& opt);

// Copies the current values of the variable parameters into the accepted ones.
void update_parameters(Fit_parameters& params, const Optimization_data& opt);
// The reverse: the accepted values of the variable parameters become current.
void restore_accepted(Fit_parameters& params);

// Every current value becomes accepted, and the accepted values the backup;
// the sum of squares of `opt` becomes the previous one.
void accept_current_values(Fit_parameters& params, Optimization_data& opt);

// The number of sites, names, values and shared links of a set-up pass, kept
// for a later pass (prev_n_sites and the saved_ fields); and the names,
// values and links put back for a pass of the same model.
void keep_pass_values(Fit_parameters& params);
void restore_pass_values(Fit_parameters& params);

// Loads a minimiser's working point x(1..n_var) into the vector's values, and
// reads it back.
void load_variables(Fit_parameters& params, const double* x);
void read_variables(const Fit_parameters& params, double* x);

// The kind of a parameter: the first letter of its name (K, R, N, C, B).
char parameter_kind(const Fit_parameters& params, int slot);

// The values the estimates dialogue accepts for a parameter of kind `kind`,
// as a fixed value or as a starting value, with the unit the user reads them
// in ("M^-1", "M" or none). Much wider than the bounds the fit keeps its
// variable parameters in, and open for any letter that is no kind.
struct Entry_range {
  double lower;
  double upper;
  const char* unit;
};
Entry_range entry_range(char kind);

}  // namespace kelvora
