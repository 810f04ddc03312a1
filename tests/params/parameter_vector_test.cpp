#include "params/parameter_vector.hpp"

#include <gtest/gtest.h>

#include "data/parameter_layout.hpp"

namespace kelvora {
namespace {

Fit_parameters fresh(int n_ligands, int n_sites, int n_curves) {
  Fit_parameters p;
  p.n_ligands = n_ligands, p.n_sites = n_sites, p.n_curves = n_curves;
  p.accepted.fill(7.0);
  setup_parameter_names(p);
  return p;
}

TEST(ParameterVector, NamesFollowTheLayoutAndOnlyCAfterTheFirstIsFitted) {
  const auto p = fresh(2, 2, 3);
  const std::vector<std::string> names = {"K11", "K12", "K21", "K22", "R1", "R2", "N1",
                                          "N2",  "C1",  "C2",  "C3",  "B1", "B2"};
  ASSERT_EQ(p.n_params, 13);
  for (int i = 0; i < 13; ++i) {
    EXPECT_EQ(p.name[i], names[i]);
    // K, R and N start at 0, C and B at 1; C1 and every B are held constant.
    EXPECT_EQ(p.value[i], i < 8 ? 0.0 : 1.0) << names[i];
    EXPECT_EQ(p.is_constant[i], i == 8 || i > 10) << names[i];
    EXPECT_EQ(p.accepted[i], i < 8 ? 7.0 : 1.0) << names[i];  // only C and B get accepted values
  }
  const auto twelve = fresh(2, 1, 12);
  EXPECT_EQ(twelve.n_params, 18);
  EXPECT_EQ(twelve.name[c_slot(twelve, 12)], "C12");
  EXPECT_EQ(twelve.name[b_slot(twelve, 1)], "B1");
}

TEST(ParameterVector, VariableMapRefreshedNamesAndUpdatesOfVariablesOnly) {
  auto p = fresh(1, 1, 1);  // K11 R1 N1 C1 B1
  p.value[0] = 2e9;
  p.name[0] = "*";
  considered_parameter_names(p);
  EXPECT_EQ(p.name[0], "K11");
  EXPECT_EQ(p.value[0], 2e9);
  p.is_constant[0] = true;
  p.is_constant[3] = false;  // C1 fitted
  setup_variable_map(p);
  EXPECT_EQ(p.n_var, 3);
  EXPECT_EQ(std::vector<int>(p.var_map.begin(), p.var_map.begin() + 3),
            (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(std::vector<int>(p.var_of_param.begin(), p.var_of_param.begin() + 5),
            (std::vector<int>{-1, 0, 1, 2, -1}));
  p.value = {3e9, 1e-10, 0.1, 2.0, 5.0};
  update_parameters(p);
  EXPECT_EQ(std::vector<double>(p.accepted.begin(), p.accepted.begin() + 5),
            (std::vector<double>{7.0, 1e-10, 0.1, 2.0, 1.0}));
}

TEST(KConstraintsBarrier, OrdersLigandOnesSitesAndKeepsAClearPreference) {
  // Whatever ligand 1's ratio K12 / K11, afterwards it prefers site 1; a
  // ratio that is small already changes by at most 3 % (a start that
  // already orders the sites is hardly moved), and ligand 2, a constant K12
  // and a one-ligand model are left alone.
  for (const double ratio : {1e-3, 0.05, 0.9, 1.0, 3.0, 1e4}) {
    for (const int ligands : {2, 1}) {
      for (const bool constant : {false, true}) {
        Fit_parameters p;
        p.n_ligands = ligands, p.n_sites = 2, p.n_curves = 1;
        setup_parameter_names(p);
        p.value = {1e9, 1e9 * ratio, 1e7, 1e9};  // ligand 2 prefers site 2
        p.is_constant[1] = constant;
        apply_k_constraints_barrier(p);
        if (ligands == 2 && !constant) {
          EXPECT_LT(p.value[1], p.value[0]) << ratio;
          if (ratio <= 0.05) {
            EXPECT_NEAR(p.value[1] / (1e9 * ratio), 1.0, 0.03) << ratio;
          }
        } else {
          EXPECT_EQ(p.value[1], 1e9 * ratio);
        }
        EXPECT_EQ(p.value[2], 1e7);
        EXPECT_EQ(p.value[3], 1e9);
      }
    }
  }
}

}  // namespace
}  // namespace kelvora
