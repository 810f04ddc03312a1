#include <gtest/gtest.h>

#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"

namespace kelvora {
namespace {

struct Analysis {
  Analysis(int n_ligands, int n_sites, bool first_is_competition) {
    params.n_ligands = n_ligands;
    params.n_sites = n_sites;
    params.n_curves = 1;
    Curve_data& c = curves[0];
    allocate_curve_data(c);
    c.n_points = 2;
    c.varying_ligand = 1;
    c.labelled_ligand = first_is_competition ? 2 : 1;
    c.total_of(0, c.labelled_ligand) = c.total_of(1, c.labelled_ligand) = 1e-9;
    c.total_of(0, 1) = 1e-10;
    c.total_of(1, 1) = 1e-8;
  }
  Curve_table curves;
  Fit_parameters params;
};

// K11 K12 K21 K22 R1 R2 N1 N2 C1 B1 B2 with site 2 binding ligand 1 more
// strongly than site 1.
void two_site_values(Fit_parameters& p) {
  p.n_params = 11;
  p.value = {1e8, 1e9, 2e9, 5e8, 1e-10, 2e-10, 1e-3, 2e-3, 1.0, 1.0, 1.0};
  p.accepted = p.value;
}

TEST(AffinityOrdering, ExchangesWholeSitesSoThatTheModelIsUnchanged) {
  Analysis a(2, 2, false);
  auto& p = a.params;
  two_site_values(p);
  const Binding_constants before = binding_constants(p);
  enforce_affinity_ordering(a.curves, p);
  const std::array<double, 8> expected = {1e9, 1e8, 5e8, 2e9, 2e-10, 1e-10, 1e-3, 2e-3};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(p.value[i], expected[i]) << i;
  EXPECT_EQ(p.accepted[0], 1e9);
  // Every point is predicted as before.
  const Binding_constants after = binding_constants(p);
  for (int j = 0; j < 2; ++j) {
    Point_binding x, y;
    calculate_binding_unified(a.curves[0], p, j, before, 1.0, x);
    calculate_binding_unified(a.curves[0], p, j, after, 1.0, y);
    EXPECT_DOUBLE_EQ(x.bound[0], y.bound[0]);
  }
}

TEST(AffinityOrdering, NeverChangesAConstantOrAOneSiteModel) {
  Analysis fixed(2, 2, false);
  two_site_values(fixed.params);
  fixed.params.is_constant[4] = true;  // R1 constant
  enforce_affinity_ordering(fixed.curves, fixed.params);
  EXPECT_EQ(fixed.params.value[0], 1e8);

  // Two ligands on one site: K11 and K21 belong to different ligands.
  Analysis one_site(2, 1, false);
  one_site.params.value[0] = 1e8;
  one_site.params.value[1] = 1e9;
  enforce_affinity_ordering(one_site.curves, one_site.params);
  EXPECT_EQ(one_site.params.value[1], 1e9);

  Analysis one_ligand(1, 2, false);
  one_ligand.params.value[0] = 1e8;
  one_ligand.params.value[1] = 1e9;
  enforce_affinity_ordering(one_ligand.curves, one_ligand.params);
  EXPECT_EQ(one_ligand.params.value[1], 1e9);

  Analysis competition(2, 2, true);
  two_site_values(competition.params);
  enforce_affinity_ordering(competition.curves, competition.params);
  EXPECT_EQ(competition.params.value[0], 1e8);
}

}  // namespace
}  // namespace kelvora
