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
  }
  Curve_table curves;
  Fit_parameters params;
};

TEST(AffinityOrdering, TwoLigandsOneSiteExchangesValuesAndAcceptedValues) {
  Analysis a(2, 1, false);
  auto& p = a.params;
  p.value[k_slot(p, 1, 1)] = 1e8;
  p.value[k_slot(p, 2, 1)] = 1e9;
  p.accepted[k_slot(p, 1, 1)] = 3.0;
  p.accepted[k_slot(p, 2, 1)] = 4.0;
  enforce_affinity_ordering(a.curves, p);
  EXPECT_EQ(p.value[k_slot(p, 1, 1)], 1e9);
  EXPECT_EQ(p.value[k_slot(p, 2, 1)], 1e8);
  EXPECT_EQ(p.accepted[k_slot(p, 1, 1)], 4.0);
  EXPECT_EQ(p.accepted[k_slot(p, 2, 1)], 3.0);
}

TEST(AffinityOrdering, TwoSitesOrderEachLigandButNotTheReceptors) {
  Analysis a(2, 2, false);
  auto& v = a.params.value;
  v = {1e8, 1e9, 2e9, 5e8, 1e-10, 2e-10};  // K11 K12 K21 K22 R1 R2
  enforce_affinity_ordering(a.curves, a.params);
  EXPECT_EQ(v[0], 1e9);
  EXPECT_EQ(v[1], 1e8);
  EXPECT_EQ(v[2], 2e9);  // already in order
  EXPECT_EQ(v[3], 5e8);
  EXPECT_EQ(v[4], 1e-10);
  EXPECT_EQ(v[5], 2e-10);
  EXPECT_EQ(a.params.accepted[0], 0.0);  // only values change with two sites
}

TEST(AffinityOrdering, LeavesOneLigandAndCompetitionAnalysesAlone) {
  Analysis one_ligand(1, 2, false);
  one_ligand.params.value[0] = 1e8;
  one_ligand.params.value[1] = 1e9;
  enforce_affinity_ordering(one_ligand.curves, one_ligand.params);
  EXPECT_EQ(one_ligand.params.value[1], 1e9);

  Analysis competition(2, 1, true);
  competition.params.value[0] = 1e8;
  competition.params.value[1] = 1e9;
  enforce_affinity_ordering(competition.curves, competition.params);
  EXPECT_EQ(competition.params.value[1], 1e9);
}

}  // namespace
}  // namespace kelvora
