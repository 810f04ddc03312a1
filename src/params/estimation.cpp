#include "params/estimation.hpp"

#include <string>

#include "data/assay.hpp"
#include "data/parameter_layout.hpp"
#include "params/auto_estimates.hpp"
#include "params/parameter_vector.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"

namespace kelvora {

bool saturation_of_both_ligands(const Curve_table& curves, const Fit_parameters& params) {
  bool first = false;
  bool second = false;
  for (int i = 0; i < params.n_curves; ++i) {
    const Curve_data& curve = curves[i];
    if (!curve.is_saturation_curve()) continue;
    first = first || curve.labelled_ligand == 1;
    second = second || curve.labelled_ligand == 2;
  }
  return first && second;
}

void fix_redundant_parameters(Console& console, Fit_parameters& p,
                              std::array<bool, max_params>& tied) {
  const std::string block_rule = " " + rule('=', 41);
  console.empty_line();
  console.exact(block_rule);
  console.exact("   FIXING REDUNDANT PARAMETERS");
  console.exact("   (Saturation with ligand 2 detected)");
  console.exact(block_rule);
  for (int s = 1; s <= p.n_sites; ++s) {
    const int second = k_slot(p, 2, s);
    p.is_constant[second] = true;
    tied[second] = true;
    console.exact("   Fixed K2" + fmt_i(s, 1) + " = K1" + fmt_i(s, 1));
  }
  const int n1 = n_slot(p, 1);
  if (n1 < p.n_params) {
    p.is_constant[n1] = true;
    tied[n1] = true;
    console.exact("   Fixed N1 = 1.0E-04");
  }
  apply_redundant_values(p, tied);
  console.exact(block_rule);
  setup_variable_map(p);
  console.empty_line();
  console.exact(" Updated variable parameter count: " + fmt_i(p.n_var, 3));
  console.empty_line();
}

void apply_redundant_values(Fit_parameters& p, const std::array<bool, max_params>& tied) {
  for (int s = 1; s <= p.n_sites; ++s) {
    const int second = k_slot(p, 2, s);
    if (tied[second]) p.value[second] = p.accepted[second] = p.value[k_slot(p, 1, s)];
  }
  const int n1 = n_slot(p, 1);
  if (n1 < p.n_params && tied[n1]) p.value[n1] = p.accepted[n1] = 1.0e-4;
}

void saturation_estimates(Console& console, const Curve_table& curves, Fit_parameters& params,
                          Estimation_state& state) {
  preadjust_initial_parameters_schliebs_bigl(console, curves, params, state.r_yb, state.r2);
  console.exact("   R-squared = " + fmt_f(state.r2, 8, 5));
  if (state.r2 < 0.5) {
    console.empty_line();
    console.exact(" WARNING: Low R-squared suggests data may not fit");
  }
  if (state.r2 < 0.5 || state.r_yb > -0.4) {
    console.empty_line();
    console.exact(" Preadjusting parameters using Scatchard estimation.");
    double quality = 0.0;
    preadjust_initial_parameters_scatchard(console, curves, params, quality);
  }
}

bool estimate_starting_values(Console& console, const Curve_table& curves, Fit_parameters& p,
                              Estimation_state& state, bool wait_for_enter) {
  console.empty_line();
  console.exact("Calculating automatic initial parameter estimates.");
  const bool several = p.n_curves > 1;
  if (several) {
    const std::string block_rule = " " + rule('=', 41);
    console.empty_line();
    for (const std::string& line :
         {block_rule, std::string("   MULTI-CURVE FIT DETECTED"), block_rule,
          std::string(" Using pre-adjusted initial estimates."),
          std::string(" Note: Pre-adjustment of parameter initial"),
          std::string(" estimates may not always be most reliable"),
          std::string(" when fitting multiple curve data to receptor"),
          std::string(" binding models. However, these estimates may"),
          std::string(" also be used as user supplied initial parameter"),
          std::string(" estimates for further optimization."), block_rule})
      console.exact(line);
    console.empty_line();
    if (wait_for_enter) {
      console.prompt("PRESS <ENTER> TO CONTINUE...");
      console.answer();
    }
  }
  // After the reordering the first curve is a competition curve only when
  // no curve is a saturation curve.
  if (is_competition_assay(curves[0], p)) {
    preadjust_initial_parameters_competition(console, curves, p);
    return false;
  }
  saturation_estimates(console, curves, p, state);
  console.empty_line();
  update_parameters(p);
  return true;
}

}  // namespace kelvora
