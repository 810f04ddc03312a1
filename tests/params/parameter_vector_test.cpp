#include "params/parameter_vector.hpp"

#include <gtest/gtest.h>

#include "data/parameter_layout.hpp"

namespace kelvora {
namespace {

Fit_parameters fresh(int n_ligands, int n_sites, int n_curves) {
  Fit_parameters p;
  p.n_ligands = n_ligands;
  p.n_sites = n_sites;
  p.n_curves = n_curves;
  p.accepted.fill(7.0);
  setup_parameter_names(p);
  return p;
}

std::vector<std::string> names(const Fit_parameters& p) {
  return {p.name.begin(), p.name.begin() + p.n_params};
}

TEST(ParameterVector, NamesFollowTheLayoutForEveryShape) {
  using V = std::vector<std::string>;
  EXPECT_EQ(names(fresh(1, 1, 1)), (V{"K11", "R1", "N1", "C1", "B1"}));
  EXPECT_EQ(names(fresh(1, 2, 2)), (V{"K11", "K12", "R1", "R2", "N1", "C1", "C2", "B1", "B2"}));
  EXPECT_EQ(names(fresh(2, 2, 3)),
            (V{"K11", "K12", "K21", "K22", "R1", "R2", "N1", "N2", "C1", "C2", "C3", "B1", "B2"}));
  const auto twelve = fresh(2, 1, 12);
  EXPECT_EQ(twelve.n_params, 18);
  EXPECT_EQ(twelve.name[c_slot(twelve, 12)], "C12");
  EXPECT_EQ(twelve.name[b_slot(twelve, 1)], "B1");
}

TEST(ParameterVector, FreshDefaultsAndTheVariableMap) {
  auto p = fresh(1, 1, 1);
  EXPECT_EQ(std::vector<double>(p.value.begin(), p.value.begin() + 5),
            (std::vector<double>{0, 0, 0, 1, 1}));
  EXPECT_EQ(p.accepted[0], 7.0);  // only C and B get accepted values
  p.is_constant[0] = true;  // K11 constant
  setup_variable_map(p);
  EXPECT_EQ(p.n_var, 2);
  EXPECT_EQ(p.var_map[0], 1);
  EXPECT_EQ(p.var_map[1], 2);
  EXPECT_EQ(p.var_of_param[0], -1);
  EXPECT_EQ(p.var_of_param[1], 0);
  EXPECT_EQ(p.var_of_param[2], 1);

  const auto two_curves = fresh(1, 1, 2);
  EXPECT_TRUE(two_curves.is_constant[c_slot(two_curves, 1)]);
  EXPECT_FALSE(two_curves.is_constant[c_slot(two_curves, 2)]);
}

TEST(ParameterVector, RefreshingNamesKeepsValuesAndUpdateCopiesVariablesOnly) {
  auto p = fresh(1, 1, 1);
  p.value[0] = 2e9;
  p.name[0] = "*";
  considered_parameter_names(p);
  EXPECT_EQ(p.name[0], "K11");
  EXPECT_EQ(p.value[0], 2e9);

  setup_variable_map(p);
  p.value[3] = 9.0;  // C1, constant
  update_parameters(p);
  EXPECT_EQ(p.accepted[0], 2e9);
  EXPECT_EQ(p.accepted[3], 1.0);
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
