#pragma once
// Whether the data tell which site a ligand prefers: the two fits of its
// preference (see run_fit_sequence_both_preferences) compared.

#include <string>
#include <vector>

#include "data/records.hpp"
#include "fit/fit_sequence.hpp"

namespace kelvora {

// The lines of a WARNING when the two fits of a ligand's site preference
// reached different preferences that the data do not tell apart: their sums
// of squares are within 1 %, or the extra sum of squares of the worse fit,
// taken as one degree of freedom (the choice of preference),
//   F = (SS(worse) - SS(better)) / (SS(better) / (N - P))  on (1, N - P),
// is not significant (p >= 0.05). None when both fits reached the same
// preference or one is clearly better.
std::vector<std::string> preference_warning(const Fit_parameters& p, const Preference_fits& fits);

// The warnings of all ligands tried, in their order.
std::vector<std::string> preference_warning(const Fit_parameters& p,
                                            const std::vector<Preference_fits>& preferences);

}  // namespace kelvora
