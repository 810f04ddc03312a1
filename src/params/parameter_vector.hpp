#pragma once
// The named parameter vector: names and defaults of a fresh vector, the
// variable map of the parameters that are fitted, and the accepted copy.

#include <optional>

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
// order. The caller keeps the number of variable parameters within max_var.
void setup_variable_map(Fit_parameters& params);

// Copies the current values of the variable parameters into the accepted ones.
void update_parameters(Fit_parameters& params);

// The number of sites, names, values and shared links of a set-up pass, kept
// for a later pass (prev_n_sites and the saved_ fields); and the names,
// values and links put back for a pass of the same model.
void keep_pass_values(Fit_parameters& params);
void restore_pass_values(Fit_parameters& params);

// The values of the variable parameters, in variable order, into x.
void read_variables(const Fit_parameters& params, double* x);

// The kind of a parameter: the first letter of its name (K, R, N, C, B).
char parameter_kind(const Fit_parameters& params, int slot);

// The admissible range of a parameter kind (the first letter of its name),
// inside which the fit keeps its variable parameters:
//   K [1e5, 1e14], R [1e-14, 1e-5], N [0, 0.5], C [0.1, 10], B [0.25, 4];
// nothing for any other letter.
struct Admissible_range {
  double lower;
  double upper;
};
std::optional<Admissible_range> admissible_range(char kind);

// With two ligands and two sites, pushes ligand 1's second-site affinity
// below its first: K12 <- K11 rho (1 + tanh(2 (1 - rho))) / 2 with
// rho = K12 / K11, so that site 1 is the site ligand 1 prefers. Other ligands
// keep their own preference; a constant K12 is left alone; nothing happens in
// any other configuration.
void apply_k_constraints_barrier(Fit_parameters& params);

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
