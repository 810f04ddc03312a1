#include "fit/sequence_guards.hpp"

#include <cmath>

namespace kelvora {

bool restore_if_markedly_worse(Fit_parameters& params, Optimization_data& opt, double ss_reference,
                               bool nan_restores) {
  const bool worse = opt.ss > 2.0 * ss_reference || (nan_restores && std::isnan(opt.ss));
  if (!worse) return false;
  params.accepted = params.backup;
  params.value = params.accepted;
  opt.ss = ss_reference;
  return true;
}

}  // namespace kelvora
