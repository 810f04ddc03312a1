#include "params/estimation.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "data/parameter_layout.hpp"
#include "params/parameter_vector.hpp"
#include "support/dialogue.hpp"

namespace kelvora {
namespace {

// Two ligands, one curve per entry of `curves` (varying, labelled ligand).
Fit_parameters two_ligands(Curve_table& table, const std::vector<std::pair<int, int>>& curves,
                           int n_sites = 1) {
  Fit_parameters p;
  p.n_ligands = 2;
  p.n_sites = n_sites;
  p.n_curves = static_cast<int>(curves.size());
  for (int c = 0; c < p.n_curves; ++c)
    std::tie(table[c].varying_ligand, table[c].labelled_ligand) = curves[c];
  setup_parameter_names(p);
  return p;
}

TEST(RedundantParameters, OnlySaturationCurvesOfBothLigandsDetermineTheAffinitiesTwice) {
  Curve_table t;
  EXPECT_TRUE(saturation_of_both_ligands(t, two_ligands(t, {{2, 2}, {1, 1}})));
  EXPECT_FALSE(saturation_of_both_ligands(t, two_ligands(t, {{2, 2}, {2, 2}})));
  EXPECT_FALSE(saturation_of_both_ligands(t, two_ligands(t, {{1, 1}, {1, 2}})));
}

TEST(RedundantParameters, K2sFollowsK1sAndN1IsHeldAt1e4) {
  Curve_table t;
  Fit_parameters p = two_ligands(t, {{1, 1}, {2, 2}}, 2);
  p.value[k_slot(p, 1, 1)] = 3e9;
  p.value[k_slot(p, 1, 2)] = 2e7;
  Optimization_data opt;
  std::array<bool, max_params> tied{};
  testing::Dialogue d("");
  fix_redundant_parameters(d.console(), p, opt, tied);
  for (const char* line : {"   Fixed K21 = K11", "   Fixed K22 = K12", "   Fixed N1 = 1.0E-04",
                           " Updated variable parameter count:   6"})
    EXPECT_TRUE(d.has_line(line)) << line;
  for (const int slot : {k_slot(p, 2, 1), k_slot(p, 2, 2), n_slot(p, 1)}) {
    EXPECT_TRUE(tied[slot]);
    EXPECT_TRUE(p.is_constant[slot]);
    EXPECT_EQ(p.var_of_param[slot], -1);
  }
  EXPECT_EQ(p.accepted[k_slot(p, 2, 1)], 3e9);
  EXPECT_EQ(p.accepted[k_slot(p, 2, 2)], 2e7);
  EXPECT_EQ(p.accepted[n_slot(p, 1)], 1e-4);
  // A K1s typed later carries over.
  p.value[k_slot(p, 1, 2)] = 5e6;
  apply_redundant_values(p, tied);
  EXPECT_EQ(p.value[k_slot(p, 2, 2)], 5e6);
  EXPECT_EQ(p.value[k_slot(p, 2, 1)], 3e9);
}

}  // namespace
}  // namespace kelvora
