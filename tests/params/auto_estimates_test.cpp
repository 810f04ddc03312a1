#include "params/auto_estimates.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "data/parameter_layout.hpp"
#include "params/parameter_vector.hpp"
#include "support/dialogue.hpp"
#include "support/records.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

// A saturation curve of ligand 1 that follows one-site binding with
// nonspecific binding exactly: at free F, B = Bmax K F / (1 + K F) + N F and
// the total is F + B.
struct Saturation_analysis {
  Saturation_analysis(double k, double n, double bmax, int n_sites = 1, int n_points = 10) {
    Curve_data& c = curves[0] = testing::make_curve(1, 1, n_points);
    for (int j = 0; j < n_points; ++j) {
      const double f = 0.05 / k * std::pow(2.0, j);
      c.bound[j] = bmax * k * f / (1.0 + k * f) + n * f;
      c.total_of(j, 1) = f + c.bound[j];
    }
    p.n_ligands = p.n_curves = 1;
    p.n_sites = n_sites;
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
  EXPECT_TRUE(d.has_line(" Curve:  1  Data points:   10"));
}

TEST(SchliebsBigl, TwoPointsGiveDefaultsAndLeaveTheFiguresAlone) {
  Saturation_analysis a(1e9, 0.01, 1e-10, 1, 2);
  Dialogue d("");
  preadjust_initial_parameters_schliebs_bigl(d.console(), a.curves, a.p, a.r_yb, a.r2);
  EXPECT_EQ(a.p.value[k_slot(a.p, 1, 1)], 1e8);
  EXPECT_EQ(a.p.value[n_slot(a.p, 1)], 0.001);
  EXPECT_TRUE(a.r_yb == 7.0);
  EXPECT_TRUE(a.r2 == 7.0);
}

TEST(Scatchard, StraightLinesAndTheirRSquared) {
  // q = x / y on the line K (Bmax - x), K = 1e9, Bmax = 1e-10, scattered by
  // up to 20 %. The least-squares line of q on x and its r^2, solved
  // beforehand: slope -1.034676e9, intercept 1.024211e-1 (K 1.034676e9, Bmax
  // 9.898849e-11), r^2 0.905895.
  std::vector<double> x, y;
  for (int i = 0; i < 8; ++i) {
    x.push_back((i + 1) * 1e-11);
    y.push_back(x[i] / (1e9 * (1e-10 - x[i]) * (1.0 + 0.2 * std::sin(2.0 * i))));
  }
  Dialogue d("");
  const Scatchard_line line = fit_scatchard_linear(d.console(), x, y);
  EXPECT_NEAR(line.K / 1.034676439453e9, 1.0, 1e-10);
  EXPECT_NEAR(line.Bmax / 9.898848934440e-11, 1.0, 1e-10);
  EXPECT_NEAR(line.quality, 0.905894975951, 1e-11);
  EXPECT_EQ(d.transcript(), "\n");

  // Equal specific bound values give no line: the fall-backs.
  const Scatchard_line flat = fit_scatchard_linear(d.console(), {2e-11, 2e-11, 2e-11}, {1, 2, 3});
  EXPECT_EQ(flat.K, 1e8);
  EXPECT_EQ(flat.Bmax, 2e-11);

  // Without scatter, four points give two exact lines of two points each;
  // three points: the second line is made up and the quality halved.
  for (int i = 0; i < 8; ++i) y[i] = x[i] / (1e9 * (1e-10 - x[i]));
  x.resize(4);
  y.resize(4);
  const auto four = fit_scatchard_twosite(d.console(), x, y);
  EXPECT_NEAR(four.high.K / 1e9, 1.0, 1e-9);
  EXPECT_NEAR(four.low.Bmax / 1e-10, 1.0, 1e-9);
  x.pop_back();
  y.pop_back();
  const auto three = fit_scatchard_twosite(d.console(), x, y);
  EXPECT_NEAR(three.low.K / (0.01 * three.high.K), 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(three.low.Bmax, 1.5 * 3e-11);
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
}

// A 1 nM labelled ligand (K = 1e9) displaced by a competitor; by default the
// points of EX2_COMP.
const std::vector<double> ex2_cold = {0.0, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5};
const std::vector<double> ex2_bound = {5e-10,    4.76e-10, 3.33e-10, 9.52e-11,
                                       1.23e-11, 1.25e-12, 6.12e-13};
struct Competition_analysis {
  explicit Competition_analysis(const std::vector<double>& cold = ex2_cold,
                                const std::vector<double>& bound = ex2_bound) {
    Curve_data& c = curves[0] = testing::make_curve(1, 2, static_cast<int>(cold.size()));
    for (int j = 0; j < c.n_points; ++j) {
      c.total_of(j, 1) = cold[j];
      c.total_of(j, 2) = 1e-9;
      c.bound[j] = bound[j];
    }
    p.n_ligands = 2;
    p.n_sites = p.n_curves = 1;
    setup_parameter_names(p);
    p.n_params_check = p.n_params;
    p.value[k_slot(p, 2, 1)] = 1e9;  // the labelled ligand's affinity
  }
  void run() { preadjust_initial_parameters_competition(d.console(), curves, p); }
  Curve_table curves;
  Fit_parameters p;
  Dialogue d{""};
};

TEST(CompetitionPreadjustment, LogisticLineAndChengPrusoffOnTheExample) {
  Competition_analysis a;
  a.run();
  // log10(B0/y - 1) on log10 x over the four points between the floor and
  // B0: slope 0.96153, IC50 2.16905e-9; Ki = IC50 / (1 + 1e-9 * 1e9).
  for (const char* line :
       {"   B0 (max B/T):   0.5000", "   IC50:  2.16905E-09 [M]", "   Hill slope:  0.962",
        "   SET K21 (cold) =  9.22065E+08", " 6 C1         =  1.00000E+00"})
    EXPECT_TRUE(a.d.has_line(line)) << line;
  // R1 = Bmax (1 + L Khot) / (L Khot) = 2 Bmax here.
  EXPECT_DOUBLE_EQ(a.p.value[r_slot(a.p, 1)], 1e-9);

  // The same points from the highest concentration down.
  Competition_analysis down({ex2_cold.rbegin(), ex2_cold.rend()},
                            {ex2_bound.rbegin(), ex2_bound.rend()});
  down.run();
  EXPECT_EQ(down.d.transcript(), a.d.transcript());

  // Constant affinities: the labelled one is used, the competitor's is kept.
  Competition_analysis fixed;
  fixed.p.is_constant[k_slot(fixed.p, 1, 1)] = fixed.p.is_constant[k_slot(fixed.p, 2, 1)] = true;
  fixed.p.value[k_slot(fixed.p, 1, 1)] = 3e8;
  fixed.run();
  EXPECT_TRUE(fixed.d.has_line("   K11 (hot) FIXED AT =  1.00000E+09"));
  EXPECT_TRUE(fixed.d.has_line("   K21 (cold) FIXED AT =  3.00000E+08"));
  EXPECT_EQ(fixed.p.value[k_slot(fixed.p, 1, 1)], 3e8);
}

TEST(CompetitionPreadjustment, LogisticFallbacksRangeClampsAndReplicates) {
  // Fewer than three usable points: the geometric mean of the smallest and
  // largest positive concentrations, slope 1.
  const auto few = fit_logistic_competition({0.0, 1e-9, 1e-7}, {0.5, 0.4, 0.3});
  EXPECT_DOUBLE_EQ(few.IC50, 1e-8);
  EXPECT_EQ(few.hill, 1.0);
  // A steep drop: slope above 3 reported as 1.5. An IC50 beyond the positive
  // concentrations is brought back inside them, in either order of the points.
  const std::vector<double> x = {0.0, 1e-9, 2e-9, 4e-9, 8e-9, 1e-8};
  const auto steep = fit_logistic_competition(x, {0.5, 0.49, 0.45, 0.2, 0.01, 0.001});
  EXPECT_EQ(steep.hill, 1.5);
  const auto late = fit_logistic_competition({1e-8, 8e-9, 4e-9, 2e-9, 1e-9, 0.0},
                                             {0.001, 0.496, 0.497, 0.498, 0.499, 0.5});
  EXPECT_DOUBLE_EQ(late.IC50, 1e-8 / 5.0);
  const auto early = fit_logistic_competition(x, {0.5, 0.01, 0.009, 0.008, 0.007, 0.006});
  EXPECT_DOUBLE_EQ(early.IC50, 5e-9);

  // Replicates of one concentration (and a blank) give no line: the IC50 is
  // that concentration, the slope 1, and Ki = IC50 / 2 as above.
  Competition_analysis replicates({0.0, 3e-9, 3e-9, 3e-9, 3e-9},
                                  {5e-10, 4e-10, 3e-10, 2e-10, 1e-10});
  replicates.run();
  for (const char* line :
       {"   IC50:  3.00000E-09 [M]", "   Hill slope:  1.000", "   SET K21 (cold) =  6.66667E+08"})
    EXPECT_TRUE(replicates.d.has_line(line)) << replicates.d.transcript();
}

}  // namespace
}  // namespace kelvora
