#include "data/assay.hpp"

#include <gtest/gtest.h>

#include "support/dialogue.hpp"
#include "support/records.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

// Labelled ligand totals as given, one per point.
Curve_data make_curve(const std::string& name, int varying, int labelled,
                      const std::vector<double>& labelled_totals) {
  Curve_data c = testing::make_curve(varying, labelled, int(labelled_totals.size()), name);
  for (int j = 0; j < c.n_points; ++j) c.total_of(j, labelled) = labelled_totals[j];
  return c;
}

Fit_parameters two_ligands(int n_curves) {
  Fit_parameters p;
  p.n_ligands = p.n_sites = 2;
  p.n_curves = n_curves;
  return p;
}

TEST(IsCompetitionAssay, NeedsTwoLigandsDifferentNumbersAndAConstantLabelledTotal) {
  const Fit_parameters params = two_ligands(1);
  EXPECT_TRUE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9, 1e-9}), params));
  // 1e-12 relative tolerance on the labelled concentration.
  EXPECT_TRUE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9 * (1 + 5e-13)}), params));
  EXPECT_FALSE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9 * (1 + 5e-12)}), params));
  EXPECT_FALSE(is_competition_assay(make_curve("saturation", 1, 1, {1e-9, 1e-9}), params));
  EXPECT_FALSE(is_competition_assay(make_curve("no hot", 1, 2, {0.0, 0.0}), params));
  Fit_parameters one_ligand = params;
  one_ligand.n_ligands = 1;  // only a two-ligand analysis has competition curves
  EXPECT_FALSE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9}), one_ligand));
}

TEST(RatioOnly, AnUnlabelledLigandWithNAndEveryKVariable) {
  // Two ligands, two sites; ligand 1 labelled in a saturation curve, ligand 2
  // only displacing it. Slots: K11 K12 K21 K22 R1 R2 N1 N2 ...
  Curve_table curves;
  curves[0] = make_curve("sat", 1, 1, {1e-9});
  curves[1] = make_curve("comp", 2, 1, {1e-9});
  Fit_parameters p = two_ligands(2);
  p.name = {"K11", "K12", "K21", "K22", "R1", "R2", "N1", "N2"};
  auto groups = ratio_only_parameters(curves, p);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].ligand, 2);
  EXPECT_EQ(groups[0].k_slots, (std::vector<int>{2, 3}));
  EXPECT_EQ(groups[0].ratio(p, 3), "K22/(1 + C*N2)");
  // A constant K or N ties the ratio down; a ligand labelled anywhere is seen.
  for (const int held : {3, 7}) {
    Fit_parameters q = p;
    q.is_constant[held] = true;
    EXPECT_TRUE(ratio_only_parameters(curves, q).empty()) << held;
  }
  curves[1].labelled_ligand = 2;
  EXPECT_TRUE(ratio_only_parameters(curves, p).empty());
}

TEST(ReorderCurves, MovesSaturationCurvesFirstKeepingTheirOrderOnlyWhenNeeded) {
  Curve_table curves;
  curves[0] = make_curve("COMP_A", 1, 2, {1e-9, 1e-9});
  curves[1] = make_curve("SAT_B", 1, 1, {1e-10, 1e-9});
  curves[2] = make_curve("COMP_C", 1, 2, {2e-9, 2e-9, 2e-9});
  curves[3] = make_curve("SAT_D", 2, 2, {1e-10});
  Dialogue d("");
  reorder_curves_saturation_first(d.console(), curves, two_ligands(4));
  std::string order;
  for (int i = 0; i < 4; ++i) order += curves[i].file_name + " ";
  EXPECT_EQ(order, "SAT_B SAT_D COMP_A COMP_C ");
  EXPECT_DOUBLE_EQ(curves[3].total_of(2, 2), 2e-9);  // whole records moved, arrays included
  EXPECT_EQ(d.find_line("   Position 3: COMP_A (Competition)") + 1,  // in read order
            d.find_line("   Position 1: SAT_B (Saturation)"));
  EXPECT_TRUE(d.has_line(" Detected 2 competition curve(s)"));

  // Saturation curves already first: only that is said; one kind alone: nothing.
  curves[0] = make_curve("SAT", 1, 1, {1e-10});
  curves[1] = make_curve("COMP", 1, 2, {1e-9});
  Dialogue sorted("");
  reorder_curves_saturation_first(sorted.console(), curves, two_ligands(2));
  EXPECT_EQ(sorted.transcript(),
            "\n Curves are already in optimal order (Saturation --> Competition)\n\n");
  curves[0] = make_curve("COMP2", 1, 2, {1e-9});
  Dialogue one_kind("");
  reorder_curves_saturation_first(one_kind.console(), curves, two_ligands(2));
  EXPECT_EQ(one_kind.transcript(), "");
}

}  // namespace
}  // namespace kelvora
