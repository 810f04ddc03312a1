#include "stats/model_comparison.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace kelvora {
namespace {

TEST(FDistribution, MatchesTablesAndClosedForms) {
  // Upper critical values from published F tables: P(F > f) is the level.
  struct Row {
    double f, d1, d2, level;
  };
  for (const Row& r : {Row{161.448, 1, 1, 0.05}, Row{4.9646, 1, 10, 0.05}, Row{4.4590, 2, 8, 0.05},
                       Row{2.8661, 4, 20, 0.05}, Row{4.5097, 3, 30, 0.01}})
    EXPECT_NEAR(f_upper_tail(r.f, r.d1, r.d2), r.level, 2e-5 * r.level / 0.01)
        << r.d1 << "," << r.d2;
  // With two numerator degrees of freedom, P(F > f) = (1 + 2f/d2)^(-d2/2);
  // with d1 = d2 = 1 it is 1 - (2/pi) atan(sqrt f).
  for (double f : {0.01, 0.7, 3.0, 40.0}) {
    for (double d2 : {1.0, 5.0, 37.0})
      EXPECT_NEAR(f_upper_tail(f, 2, d2), std::pow(1.0 + 2.0 * f / d2, -d2 / 2.0), 1e-12);
    EXPECT_NEAR(f_upper_tail(f, 1, 1), 1.0 - 2.0 / M_PI * std::atan(std::sqrt(f)), 1e-12);
  }
  EXPECT_EQ(f_upper_tail(0.0, 3, 4), 1.0);
  EXPECT_TRUE(std::isnan(incomplete_beta(0.0, 1.0, 0.5)));
  // I_x(1, 1) = x, and the symmetry I_x(a, b) = 1 - I_{1-x}(b, a).
  EXPECT_NEAR(incomplete_beta(1, 1, 0.3), 0.3, 1e-14);
  EXPECT_NEAR(incomplete_beta(2.5, 7, 0.2) + incomplete_beta(7, 2.5, 0.8), 1.0, 1e-13);
}

TEST(ModelComparison, FTestAicWeightAndVerdict) {
  // 12 points; one site with 3 fitted parameters, two sites with 5.
  const Model_fit one{1, 10.0, 12, 3};
  const Model_fit two{2, 4.0, 12, 5};
  const Model_comparison c = compare_models(two, one);  // either order
  EXPECT_EQ(c.simple.sites, 1);
  // F = ((10 - 4)/2) / (4/7) = 5.25 on (2, 7) DF: p = (1 + 2·5.25/7)^(-3.5).
  EXPECT_NEAR(c.f, 5.25, 1e-12);
  EXPECT_NEAR(c.p, std::pow(2.5, -3.5), 1e-12);
  EXPECT_TRUE(c.rich_better);
  // AICc = 12 ln(SS/12) + 2P + 2P(P+1)/(12-P-1).
  const double a1 = 12 * std::log(10.0 / 12) + 6 + 24.0 / 8;
  const double a2 = 12 * std::log(4.0 / 12) + 10 + 60.0 / 6;
  EXPECT_NEAR(c.aicc_simple, a1, 1e-12);
  EXPECT_NEAR(c.aicc_rich, a2, 1e-12);
  EXPECT_NEAR(c.rich_weight, std::exp(-a2 / 2) / (std::exp(-a1 / 2) + std::exp(-a2 / 2)), 1e-12);
  const auto lines = model_comparison_lines(c);
  EXPECT_EQ(lines.front(), "MODEL COMPARISON (1 vs 2 sites)");
  EXPECT_EQ(lines.back(), "  Verdict: the two-site model fits significantly better (p < 0.05)");

  // A small gain is not enough; a richer model that fits no better gets no F.
  const Model_comparison small = compare_models(one, Model_fit{2, 9.0, 12, 5});
  EXPECT_GT(small.p, 0.05);
  EXPECT_EQ(model_comparison_lines(small).back(),
            "  Verdict: the two-site model is not justified by the data");
  const Model_comparison worse = compare_models(one, Model_fit{2, 10.0, 12, 5});
  EXPECT_FALSE(worse.testable);
  EXPECT_NE(model_comparison_lines(worse)[3].find("no F test"), std::string::npos);
  EXPECT_FALSE(worse.rich_better);
}

}  // namespace
}  // namespace kelvora
