#pragma once
// The guard that ends the minimiser sequence of a fit pass: a final
// refinement that made the fit markedly worse is undone.

#include "data/records.hpp"

namespace kelvora {

// When opt.ss exceeds twice `ss_reference` (the sum of squares of the point
// saved in params.backup) — or, when `nan_restores`, is not a number — the
// backup becomes the accepted and current values and opt.ss becomes
// `ss_reference`. Returns true when it restored.
bool restore_if_markedly_worse(Fit_parameters& params, Optimization_data& opt, double ss_reference,
                               bool nan_restores);

}  // namespace kelvora
