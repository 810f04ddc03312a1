#include "params/dialogues.hpp"

#include <gtest/gtest.h>

#include "params/parameter_vector.hpp"
#include "support/dialogue.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

// One ligand at one site, `n_curves` curves of `n_points` points in all.
Fit_parameters one_site(int n_curves, int n_points) {
  Fit_parameters p;
  p.n_ligands = p.n_sites = 1;
  p.n_curves = n_curves;
  p.n_points = n_points;
  setup_parameter_names(p);
  return p;
}

TEST(ConstantParameterLoop, AskedAgainWhileMoreParametersWouldBeFittedThanCanBe) {
  // 22 curves with nothing constant would fit 26 parameters; the defaults
  // (every C, and B1) leave three.
  Curve_table curves;
  Optimization_data opt;
  Fit_parameters many = one_site(22, 264);
  Dialogue d("NONE\n\n");
  choose_constant_parameters(d.console(), curves, many, opt);
  EXPECT_TRUE(
      d.has_line("ERROR: 26 parameters would be fitted, but at most 25 can be fitted together."));
  EXPECT_EQ(many.n_var, 3);

  // One point cannot determine the three of one curve.
  Fit_parameters one = one_site(1, 1);
  Dialogue too_few("\nK11 R1 N1 C1 B1\n");
  choose_constant_parameters(too_few.console(), curves, one, opt);
  EXPECT_TRUE(
      too_few.has_line("ERROR: 3 parameters would be fitted to 1 data points; the points "
                       "must outnumber the fitted parameters."));
  EXPECT_EQ(one.n_var, 0);
}

}  // namespace
}  // namespace kelvora
