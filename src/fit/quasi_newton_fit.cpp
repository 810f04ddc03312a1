// The quasi-Newton minimiser on the binding objective (see quasi_newton.hpp).
// The minimiser keeps its own trial points; every evaluation loads one into a
// private copy of the records, whose repairs (absolute values, bounds,
// affinity order) never reach the minimiser.

#include <array>
#include <memory>
#include <vector>

#include "fit/objective.hpp"
#include "fit/quasi_newton.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {

namespace {

constexpr double worst_accepted = 1.1;  // f_best above 1.1 SS0 is not taken
constexpr double handed_on = 1.05;      // the next stage sees SS 5 % above the one reached

// The records as the minimiser sees them, for the one call.
struct Private_records {
  Curve_table curves;
  Fit_parameters params;
  Optimization_data opt;
};

}  // namespace

Quasi_newton_result va10_cg(Console& console, Curve_table& curves, Fit_parameters& params,
                            Optimization_data& opt, const Fit_random& random) {
  opt.lambda = 0.0;
  evaluate_model(curves, params, opt);
  const double ss0 = opt.ss;
  opt.ss_prev = ss0;
  Quasi_newton_result result;
  result.f_best = ss0;
  if (params.n_curves == 0) return result;

  const int m = params.n_var;
  std::array<double, max_var> saved{};
  read_variables(params, saved.data());

  auto copy = std::make_unique<Private_records>(Private_records{curves, params, opt});
  const Objective_callback objective = [&copy](const double* x, int n) {
    Fit_parameters& p = copy->params;
    p.n_var = n;
    for (int i = 0; i < n; ++i) {
      const int slot = p.var_map[i];
      p.value[slot] = p.accepted[slot] = p.backup[slot] = x[i];
    }
    evaluate_model(copy->curves, p, copy->opt);
    return copy->opt.ss;
  };
  std::vector<double> x(saved.begin(), saved.begin() + m);
  result = quasi_newton_minimise(objective, x, random.generator, random.before_polish,
                                 [&console](std::string_view line) { console.exact(line); });

  // Once the fit has run, the records come back as the last evaluation left
  // them, with the result values written last; a refused start changes nothing.
  if (result.passes > 0) {
    curves = copy->curves;
    params = copy->params;
    opt = copy->opt;
    if (result.status != qn_status::error) load_variables(params, x.data());
  } else {
    opt.n_evaluations = copy->opt.n_evaluations;
  }

  if (result.status != qn_status::error && result.f_best <= worst_accepted * ss0) {
    opt.ss = result.f_best;
  } else {
    console.exact("CG optimization skipped (unstable for this data)");
    opt.ss = ss0;
    load_variables(params, saved.data());
  }
  update_parameters(params, opt);
  opt.ss *= handed_on;
  return result;
}

}  // namespace kelvora
