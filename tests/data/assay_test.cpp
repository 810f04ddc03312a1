#include "data/assay.hpp"

#include <gtest/gtest.h>

#include "support/dialogue.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

Curve_data make_curve(const std::string& name, int varying, int labelled,
                      const std::vector<double>& labelled_totals) {
  Curve_data c;
  c.file_name = name;
  c.varying_ligand = varying;
  c.labelled_ligand = labelled;
  allocate_curve_data(c);
  c.n_points = static_cast<int>(labelled_totals.size());
  for (int j = 0; j < c.n_points; ++j) {
    c.total_of(j, labelled) = labelled_totals[j];
    c.bound[j] = 1.0e-12 * (j + 1);
  }
  return c;
}

Fit_parameters two_ligands(int n_curves) {
  Fit_parameters p;
  p.n_ligands = 2;
  p.n_sites = 1;
  p.n_curves = n_curves;
  return p;
}

TEST(IsCompetitionAssay, NeedsTwoLigandsDifferentNumbersAndAConstantLabelledTotal) {
  const Fit_parameters params = two_ligands(1);
  EXPECT_TRUE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9, 1e-9}), params));
  EXPECT_TRUE(is_competition_assay(make_curve("one point", 1, 2, {1e-9}), params));
  // 1e-12 relative tolerance on the labelled concentration.
  EXPECT_TRUE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9 * (1 + 5e-13)}), params));
  EXPECT_FALSE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9 * (1 + 5e-12)}), params));
  EXPECT_FALSE(is_competition_assay(make_curve("saturation", 1, 1, {1e-9, 1e-9}), params));
  EXPECT_FALSE(is_competition_assay(make_curve("no hot", 1, 2, {0.0, 0.0}), params));
  Fit_parameters one_ligand = params;
  one_ligand.n_ligands = 1;
  EXPECT_FALSE(is_competition_assay(make_curve("c", 1, 2, {1e-9, 1e-9}), one_ligand));
}

TEST(IsAlreadySorted, NoSaturationAfterAnotherKind) {
  EXPECT_TRUE(is_already_sorted({true, true, false, false}));
  EXPECT_TRUE(is_already_sorted({false, false}));
  EXPECT_FALSE(is_already_sorted({true, false, true}));
  EXPECT_FALSE(is_already_sorted({false, true}));
}

TEST(ReorderCurves, MovesSaturationCurvesFirstKeepingTheirOrder) {
  Curve_table curves;
  curves[0] = make_curve("COMP_A", 1, 2, {1e-9, 1e-9});
  curves[1] = make_curve("SAT_B", 1, 1, {1e-10, 1e-9});
  curves[2] = make_curve("COMP_C", 1, 2, {2e-9, 2e-9, 2e-9});
  curves[3] = make_curve("SAT_D", 2, 2, {1e-10});
  Dialogue d("");
  reorder_curves_saturation_first(d.console(), curves, two_ligands(4));
  EXPECT_EQ(curves[0].file_name, "SAT_B");
  EXPECT_EQ(curves[1].file_name, "SAT_D");
  EXPECT_EQ(curves[2].file_name, "COMP_A");
  EXPECT_EQ(curves[3].file_name, "COMP_C");
  EXPECT_EQ(curves[3].n_points, 3);  // whole records moved, arrays included
  EXPECT_DOUBLE_EQ(curves[3].total_of(2, 2), 2e-9);
  const int a = d.find_line("   Position 3: COMP_A (Competition)");
  const int b = d.find_line("   Position 1: SAT_B (Saturation)");
  ASSERT_GE(a, 0);
  EXPECT_LT(a, b);  // reported in read order
  EXPECT_TRUE(d.has_line(" Detected 2 saturation curve(s)"));
  EXPECT_TRUE(d.has_line(" Detected 2 competition curve(s)"));
  EXPECT_TRUE(d.has_line(" "));
}

TEST(ReorderCurves, SaysNothingOrOnlyThatTheOrderIsRight) {
  Curve_table curves;
  curves[0] = make_curve("SAT", 1, 1, {1e-10});
  curves[1] = make_curve("COMP", 1, 2, {1e-9});
  Dialogue sorted("");
  reorder_curves_saturation_first(sorted.console(), curves, two_ligands(2));
  EXPECT_EQ(sorted.transcript(),
            "\n Curves are already in optimal order (Saturation --> Competition)\n\n");
  EXPECT_EQ(curves[0].file_name, "SAT");

  curves[0] = make_curve("COMP2", 1, 2, {1e-9});
  Dialogue one_kind("");
  reorder_curves_saturation_first(one_kind.console(), curves, two_ligands(2));
  EXPECT_EQ(one_kind.transcript(), "");
}

TEST(BindingModelInfo, DescribesEachCurve) {
  Curve_table curves;
  curves[0] = make_curve("EX1_SAT", 1, 1, {1e-10});
  curves[1] = make_curve("EX2_COMP", 1, 2, {1e-9, 1e-9});
  // Different ligand numbers but a varying labelled total: not competition.
  curves[2] = make_curve("ODD", 1, 2, {1e-9, 2e-9});
  Fit_parameters params = two_ligands(3);
  params.n_sites = 2;
  Dialogue d("");
  print_binding_model_info(d.console(), curves, params);
  const auto lines = d.lines();
  const int comp = d.find_line(" Curve  2: EX2_COMP");
  ASSERT_GE(comp, 0);
  EXPECT_EQ(lines[comp + 1], "   Model: COMPETITION DISPLACEMENT");
  EXPECT_EQ(lines[comp + 2], "   Varying ligand:  1");
  EXPECT_EQ(lines[comp + 3], "   Labeled ligand:  2");
  EXPECT_EQ(lines[comp + 4], "   Hot ligand conc:  1.000E-09 M (constant)");
  EXPECT_EQ(lines[comp + 5], "   Number of sites: 2 (competition model)");
  const int odd = d.find_line(" Curve  3: ODD");
  ASSERT_GE(odd, 0);
  EXPECT_EQ(lines[odd + 1], "   Model: SATURATION BINDING");
  EXPECT_EQ(lines[odd + 2], "   Number of ligands: 2");
  EXPECT_EQ(lines[odd + 3], "   Number of sites:   2");
}

TEST(Records, ReleasingAndCountingParameters) {
  Curve_data c = make_curve("x", 1, 1, {});
  EXPECT_TRUE(c.arrays_present());
  deallocate_curve_data(c);
  EXPECT_FALSE(c.arrays_present());
  deallocate_curve_data(c);  // already absent: nothing happens
  EXPECT_FALSE(c.arrays_present());

  Fit_parameters p;
  p.n_ligands = 2;
  p.n_sites = 2;
  p.n_curves = 3;
  EXPECT_EQ(get_total_npar(p), 13);
  p.n_ligands = p.n_sites = p.n_curves = 1;
  EXPECT_EQ(get_total_npar(p), 5);
}

}  // namespace
}  // namespace kelvora
