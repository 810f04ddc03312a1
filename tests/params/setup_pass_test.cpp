#include "params/dialogues.hpp"
#include "params/estimation.hpp"

#include <gtest/gtest.h>

#include "data/parameter_layout.hpp"
#include "params/parameter_vector.hpp"
#include "support/dialogue.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

class TwoLigands : public ::testing::Test {
 protected:
  void SetUp() override {
    p.n_ligands = p.n_sites = p.n_curves = 2;
    setup_parameter_names(p);
  }
  Curve_table t;
  Fit_parameters p;
  Dialogue d{""};
};

TEST_F(TwoLigands, RedundantK2sFollowK1sAndN1IsHeldForSaturationCurvesOfBothLigands) {
  // A saturation curve of ligand 2, then one of ligand 1.
  t[0].varying_ligand = t[0].labelled_ligand = 2;
  EXPECT_FALSE(saturation_of_both_ligands(t, p));
  t[1].varying_ligand = t[1].labelled_ligand = 1;
  EXPECT_TRUE(saturation_of_both_ligands(t, p));
  t[0].varying_ligand = 1;  // a competition curve determines no affinity twice
  EXPECT_FALSE(saturation_of_both_ligands(t, p));

  p.value[k_slot(p, 1, 2)] = 2e7;
  std::array<bool, max_params> tied{};
  fix_redundant_parameters(d.console(), p, tied);
  EXPECT_TRUE(d.has_line("   Fixed K22 = K12"));
  EXPECT_TRUE(d.has_line(" Updated variable parameter count:   6"));
  for (const int slot : {k_slot(p, 2, 1), k_slot(p, 2, 2), n_slot(p, 1)}) {
    EXPECT_TRUE(tied[slot]) << slot;
    EXPECT_EQ(p.var_of_param[slot], -1) << slot;
  }
  EXPECT_EQ(p.accepted[k_slot(p, 2, 2)], 2e7);
  EXPECT_EQ(p.accepted[n_slot(p, 1)], 1e-4);
  p.value[k_slot(p, 1, 2)] = 5e6;  // typed later: carried over
  apply_redundant_values(p, tied);
  EXPECT_EQ(p.value[k_slot(p, 2, 2)], 5e6);
}

TEST(ConstantParameterLoop, AskedAgainWhileMoreParametersWouldBeFittedThanCanBe) {
  // 22 curves with nothing constant would fit 26 parameters; the defaults
  // (every C, and B1) leave three, more than one point can determine.
  Curve_table curves;
  Fit_parameters p;
  p.n_ligands = p.n_sites = p.n_points = 1;
  p.n_curves = 22;
  setup_parameter_names(p);
  std::string all;
  for (int i = 0; i < p.n_params; ++i) all += p.name[i] + " ";
  Dialogue d("NONE\n\n" + all + "\n");
  choose_constant_parameters(d.console(), curves, p);
  EXPECT_TRUE(
      d.has_line("ERROR: 26 parameters would be fitted, but at most 25 can be fitted together."));
  EXPECT_TRUE(
      d.has_line("ERROR: 3 parameters would be fitted to 1 data points; the points must "
                 "outnumber the fitted parameters."));
  EXPECT_EQ(p.n_var, 0);
}

TEST_F(TwoLigands, RatioOnlyWarningNamesTheAffinitiesAndNonspecificRatioOfAnUnlabelledLigand) {
  t[0].labelled_ligand = t[1].labelled_ligand = 1;
  warn_ratio_only(d.console(), t, p);
  EXPECT_EQ(d.lines(),
            (std::vector<std::string>{
                "", "WARNING: Ligand 2 is never the labelled ligand: K21, K22 and N2",
                "         enter the model only as K21/(1 + C*N2) (and alike), which these data",
                "         cannot tell apart. Hold N2 constant (e.g. at 0) to fit K21, K22."}));
}

}  // namespace
}  // namespace kelvora
