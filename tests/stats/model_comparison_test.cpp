#include "stats/model_comparison.hpp"

#include <gtest/gtest.h>


namespace kelvora {
namespace {

TEST(ModelComparison, FTestAicWeightAndVerdict) {
  // 12 points; one site with 3 fitted parameters, two sites with 5.
  const Model_fit one{1, 10.0, 12, 3};
  const Model_fit two{2, 4.0, 12, 5};
  const Model_comparison c = compare_models(two, one);  // either order
  EXPECT_EQ(c.simple.sites, 1);
  // F = ((10 - 4)/2) / (4/7) = 5.25 on (2, 7) DF: p = (1 + 2·5.25/7)^(-3.5).
  EXPECT_NEAR(c.f, 5.25, 1e-12);
  EXPECT_NEAR(c.p, 0.0404771540501553, 1e-12);
  EXPECT_TRUE(c.rich_better);
  // AICc = 12 ln(SS/12) + 2P + 2P(P+1)/(12-P-1): 6.81214 and 6.81665, and the
  // Akaike weight of the richer model exp(-a2/2) / (exp(-a1/2) + exp(-a2/2)).
  EXPECT_NEAR(c.aicc_simple, 6.81214131847254, 1e-12);
  EXPECT_NEAR(c.aicc_rich, 6.81665253598268, 1e-12);
  EXPECT_NEAR(c.rich_weight, 0.499436098050316, 1e-12);
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
