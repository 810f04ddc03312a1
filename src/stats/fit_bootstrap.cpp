#include "stats/fit_bootstrap.hpp"

#include "stats/bootstrap_se.hpp"

namespace kelvora {

Bootstrap_results bootstrap_fitted_parameters(Console& console, Curve_table& curves,
                                              const Fit_parameters& params, Fit_outcome& opt,
                                              const Seeding& before_tunnel) {
  Random_generator& rng = process_random();
  if (params.n_curves == 1) {
    rng.seed_from_clock();
    return calculate_bootstrap_se_kelvora(console, curves, params, opt, fit_bootstrap_replicates,
                                          rng, before_tunnel);
  }
  rng.seed_fixed(multicurve_seed);
  return calculate_bootstrap_se_kelvora_multi(console, curves, params, opt,
                                              fit_bootstrap_replicates, rng, before_tunnel);
}

}  // namespace kelvora
