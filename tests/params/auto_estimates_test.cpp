#include "params/auto_estimates.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "data/parameter_layout.hpp"
#include "params/parameter_vector.hpp"
#include "support/dialogue.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

// A saturation curve of ligand 1 that follows one-site binding with
// nonspecific binding exactly: at free F, B = Bmax K F / (1 + K F) + N F and
// the total is F + B.
struct Saturation_analysis {
  Saturation_analysis(double k, double n, double bmax, int n_sites = 1, int n_points = 10) {
    Curve_data& c = curves[0];
    c.varying_ligand = c.labelled_ligand = 1;
    allocate_curve_data(c);
    c.n_points = n_points;
    for (int j = 0; j < n_points; ++j) {
      const double f = 0.05 / k * std::pow(2.0, j);
      c.bound[j] = bmax * k * f / (1.0 + k * f) + n * f;
      c.total_of(j, 1) = f + c.bound[j];
    }
    p.n_ligands = 1;
    p.n_sites = n_sites;
    p.n_curves = 1;
    setup_parameter_names(p);
  }
  double smallest_bound() const { return curves[0].bound[0]; }
  Curve_table curves;
  Fit_parameters p;
  double r_yb = 7.0;
  double r2 = 7.0;
};

TEST(SchliebsBigl, RecoversNoiseFreeOneSiteData) {
  Saturation_analysis a(1e9, 0.01, 1e-10);
  Dialogue d("");
  preadjust_initial_parameters_schliebs_bigl(d.console(), a.curves, a.p, a.r_yb, a.r2);
  EXPECT_NEAR(a.p.value[k_slot(a.p, 1, 1)] / 1e9, 1.0, 1e-6);
  EXPECT_NEAR(a.p.value[n_slot(a.p, 1)] / 0.01, 1.0, 1e-6);
  EXPECT_NEAR(a.r2, 1.0, 1e-9);
  EXPECT_LT(a.r_yb, -0.4);
  // R1 comes from the smallest measured bound, not from the regression.
  EXPECT_DOUBLE_EQ(a.p.value[r_slot(a.p, 1)], 10.0 * a.smallest_bound());
  EXPECT_EQ(a.p.accepted[k_slot(a.p, 1, 1)], a.p.value[k_slot(a.p, 1, 1)]);
  EXPECT_TRUE(d.has_line("    SUMMARY OF INITIAL ESTIMATES"));
  EXPECT_TRUE(d.has_line(" Curve:  1  Data points:   10"));

  Saturation_analysis held(1e9, 0.01, 1e-10);
  held.p.is_constant[n_slot(held.p, 1)] = true;
  held.p.value[n_slot(held.p, 1)] = 0.2;
  Dialogue quiet("");
  preadjust_initial_parameters_schliebs_bigl(quiet.console(), held.curves, held.p, held.r_yb,
                                             held.r2);
  EXPECT_EQ(held.p.value[n_slot(held.p, 1)], 0.2);
  EXPECT_NEAR(held.p.value[k_slot(held.p, 1, 1)] / 1e9, 1.0, 1e-6);
  EXPECT_EQ(quiet.find_line(" N1         =  2.00000E-01"), -1);  // only fitted ones listed
}

struct Limit_case {
  double k, n;
  int n_sites;
  double k1, k2, n1;  // expected K<1>1, K<1>2 (two sites) and N1
};

class SchliebsBiglLimits : public ::testing::TestWithParam<Limit_case> {};

TEST_P(SchliebsBiglLimits, ApplyToTheRegression) {
  const auto& c = GetParam();
  Saturation_analysis a(c.k, c.n, 1e-10, c.n_sites);
  Dialogue d("");
  preadjust_initial_parameters_schliebs_bigl(d.console(), a.curves, a.p, a.r_yb, a.r2);
  EXPECT_NEAR(a.p.value[k_slot(a.p, 1, 1)] / c.k1, 1.0, 1e-5);
  if (c.n_sites == 2) {
    EXPECT_NEAR(a.p.value[k_slot(a.p, 1, 2)] / c.k2, 1.0, 1e-5);
    EXPECT_DOUBLE_EQ(a.p.value[r_slot(a.p, 2)], 1000.0 * a.smallest_bound());
  }
  EXPECT_NEAR(a.p.value[n_slot(a.p, 1)] / c.n1, 1.0, 1e-5);
}

INSTANTIATE_TEST_SUITE_P(Cases, SchliebsBiglLimits,
                         ::testing::Values(Limit_case{1e14, 0.01, 1, 1e10, 0, 0.01},
                                           Limit_case{5e4, 0.01, 1, 1e8, 0, 0.01},
                                           Limit_case{1e9, 0.3, 1, 1e9, 0, 0.1},
                                           Limit_case{1e9, 5e-5, 1, 1e9, 0, 1e-4},
                                           Limit_case{1e9, 0.01, 2, 1e10, 1e8, 0.01},
                                           Limit_case{5e5, 0.01, 2, 5e6, 1e6, 0.01}));

TEST(SchliebsBigl, TwoPointsGiveDefaultsAndLeaveTheFiguresAlone) {
  Saturation_analysis a(1e9, 0.01, 1e-10, 1, 2);
  Dialogue d("");
  preadjust_initial_parameters_schliebs_bigl(d.console(), a.curves, a.p, a.r_yb, a.r2);
  EXPECT_EQ(a.p.value[k_slot(a.p, 1, 1)], 1e8);
  EXPECT_EQ(a.p.value[n_slot(a.p, 1)], 0.001);
  EXPECT_EQ(a.r_yb, 7.0);
  EXPECT_EQ(a.r2, 7.0);
}

TEST(Scatchard, StraightLinesAndTheirQuality) {
  // q = x / y on the line K (Bmax - x) with K = 1e9, Bmax = 1e-10.
  std::vector<double> x, y;
  for (const double bound : {1e-11, 3e-11, 5e-11, 7e-11}) {
    x.push_back(bound);
    y.push_back(bound / (1e9 * (1e-10 - bound)));
  }
  Dialogue d("");
  const Scatchard_line line = fit_scatchard_linear(d.console(), x, y);
  EXPECT_NEAR(line.K / 1e9, 1.0, 1e-9);
  EXPECT_NEAR(line.Bmax / 1e-10, 1.0, 1e-9);
  EXPECT_NEAR(line.quality, 1.0, 1e-12);
  EXPECT_EQ(d.transcript(), "\n");

  // Equal specific bound values give no line: the fall-backs.
  const Scatchard_line flat = fit_scatchard_linear(d.console(), {2e-11, 2e-11, 2e-11}, {1, 2, 3});
  EXPECT_EQ(flat.K, 1e8);
  EXPECT_EQ(flat.Bmax, 2e-11);

  // Four points: two lines of two points each; three points: the second
  // line is made up and the quality halved.
  const auto four = fit_scatchard_twosite(d.console(), x, y);
  EXPECT_NEAR(four.high.K / 1e9, 1.0, 1e-9);
  EXPECT_NEAR(four.low.K / 1e9, 1.0, 1e-9);
  x.pop_back();
  y.pop_back();
  const auto three = fit_scatchard_twosite(d.console(), x, y);
  EXPECT_NEAR(three.low.K / (0.01 * three.high.K), 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(three.low.Bmax, 1.5 * 5e-11);
  EXPECT_NEAR(three.quality, 0.5, 1e-12);
}

TEST(Scatchard, UsesAConstantNonspecificRatioAndKeepsConstants) {
  Saturation_analysis a(1e9, 0.005, 1e-10);
  a.p.is_constant[n_slot(a.p, 1)] = true;
  a.p.value[n_slot(a.p, 1)] = a.p.accepted[n_slot(a.p, 1)] = 0.005;
  double quality = 0.0;
  Dialogue d("");
  preadjust_initial_parameters_scatchard(d.console(), a.curves, a.p, quality);
  // With the true N subtracted the Scatchard line is exact.
  EXPECT_NEAR(a.p.value[k_slot(a.p, 1, 1)] / 1e9, 1.0, 1e-6);
  EXPECT_NEAR(quality, 1.0, 1e-9);
  EXPECT_EQ(a.p.value[n_slot(a.p, 1)], 0.005);
  EXPECT_TRUE(d.has_line("   One-site R-squared =  1.00000"));

  // Without a constant N, N1 is the smallest B/T ratio (0.25 of it above 0.25).
  Saturation_analysis b(1e9, 0.005, 1e-10);
  preadjust_initial_parameters_scatchard(d.console(), b.curves, b.p, quality);
  double smallest = 1.0;
  for (int j = 0; j < 10; ++j)
    smallest = std::min(smallest, b.curves[0].bound[j] / b.curves[0].total_of(j, 1));
  EXPECT_DOUBLE_EQ(b.p.value[n_slot(b.p, 1)], smallest);
}

// EX2_COMP: 1 nM labelled ligand displaced by the competitor.
struct Competition_analysis {
  Competition_analysis() {
    const double cold[7] = {0.0, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5};
    const double bound[7] = {5.00e-10, 4.76e-10, 3.33e-10, 9.52e-11, 1.23e-11, 1.25e-12, 6.12e-13};
    Curve_data& c = curves[0];
    c.file_name = "EX2_COMP";
    c.varying_ligand = 1;
    c.labelled_ligand = 2;
    allocate_curve_data(c);
    c.n_points = 7;
    for (int j = 0; j < 7; ++j) {
      c.total_of(j, 1) = cold[j];
      c.total_of(j, 2) = 1e-9;
      c.bound[j] = bound[j];
    }
    p.n_ligands = 2;
    p.n_sites = 1;
    p.n_curves = 1;
    setup_parameter_names(p);
    p.n_params_check = p.n_params;
    p.value[k_slot(p, 2, 1)] = 1e9;  // the labelled ligand's affinity
  }
  Curve_table curves;
  Fit_parameters p;
};

TEST(CompetitionPreadjustment, LogisticLineAndChengPrusoffOnTheExample) {
  Competition_analysis a;
  Dialogue d("");
  preadjust_initial_parameters_competition(d.console(), a.curves, a.p);
  // log10(B0/y - 1) on log10 x over the four points between the floor and
  // B0: slope 0.96153, IC50 2.16905e-9; Ki = IC50 / (1 + 1e-9 * 1e9).
  EXPECT_TRUE(d.has_line("   B0 (max B/T):   0.5000"));
  EXPECT_TRUE(d.has_line("   IC50:  2.16905E-09 [M]"));
  EXPECT_TRUE(d.has_line("   Hill slope:  0.962"));
  EXPECT_TRUE(d.has_line("   SET K21 (cold) =  9.22065E+08"));
  EXPECT_NEAR(a.p.value[k_slot(a.p, 1, 1)], 2.0 / 2.16905e-9, 1e4);
  // R1 = Bmax (1 + L Khot) / (L Khot) = 2 Bmax here.
  EXPECT_DOUBLE_EQ(a.p.value[r_slot(a.p, 1)], 1e-9);
  EXPECT_TRUE(d.has_line(" 6 C1         =  1.00000E+00"));

  Competition_analysis fixed;
  fixed.p.is_constant[k_slot(fixed.p, 1, 1)] = true;
  fixed.p.value[k_slot(fixed.p, 1, 1)] = 3e8;
  fixed.p.is_constant[k_slot(fixed.p, 2, 1)] = true;
  Dialogue f("");
  preadjust_initial_parameters_competition(f.console(), fixed.curves, fixed.p);
  EXPECT_TRUE(f.has_line("   K11 (hot) FIXED AT =  1.00000E+09"));
  EXPECT_TRUE(f.has_line("   K21 (cold) FIXED AT =  3.00000E+08"));
  EXPECT_EQ(fixed.p.value[k_slot(fixed.p, 1, 1)], 3e8);
}

TEST(CompetitionPreadjustment, LogisticFallbacksAndRangeClamps) {
  // Fewer than three usable points: the geometric mean of the smallest and
  // largest positive concentrations, slope 1.
  const auto few = fit_logistic_competition({0.0, 1e-9, 1e-7}, {0.5, 0.4, 0.3});
  EXPECT_DOUBLE_EQ(few.IC50, 1e-8);
  EXPECT_EQ(few.hill, 1.0);
  // A steep drop: slope above 3 reported as 1.5; an IC50 beyond the range is
  // brought back inside it.
  const std::vector<double> x = {0.0, 1e-9, 2e-9, 4e-9, 8e-9, 1e-8};
  const auto steep = fit_logistic_competition(x, {0.5, 0.49, 0.45, 0.2, 0.01, 0.001});
  EXPECT_EQ(steep.hill, 1.5);
  EXPECT_GE(steep.IC50, 1e-9);
  EXPECT_LE(steep.IC50, 8e-9);
  const auto late = fit_logistic_competition(x, {0.5, 0.499, 0.498, 0.497, 0.496, 0.001});
  EXPECT_DOUBLE_EQ(late.IC50, 8e-9 / 5.0);
}

}  // namespace
}  // namespace kelvora
