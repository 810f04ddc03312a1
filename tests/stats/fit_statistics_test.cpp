#include "stats/fit_statistics.hpp"
#include "stats/model_comparison.hpp"
#include "stats/site_preference.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include "params/parameter_vector.hpp"
#include "support/records.hpp"

namespace kelvora {
namespace {

TEST(FitStatistics, HandValuesAndUndefinedFigures) {
  // N = 20, P = 3, S = 0.42: MSE = S/17, AIC = 20 ln(S/20) + 6, AICc = AIC + 2·3·4/16.
  const Fit_statistics hand = fit_statistics(20, 3, 0.42);
  EXPECT_EQ(hand.df, 17);
  EXPECT_NEAR(hand.mse, 0.0247058823529412, 1e-16);
  EXPECT_NEAR(hand.aic, -71.2646568251743, 1e-12);
  EXPECT_NEAR(hand.aicc, -69.7646568251743, 1e-12);
  // A perfect fit has a variance of 0 but no logarithm.
  const Fit_statistics perfect = fit_statistics(20, 3, 0.0);
  EXPECT_EQ(perfect.mse, 0.0);
  EXPECT_TRUE(std::isnan(perfect.aic));
  EXPECT_TRUE(std::isnan(perfect.aicc));
  // N = P + 1: one degree of freedom, and AICc would divide by zero.
  const Fit_statistics one = fit_statistics(4, 3, 2.0);
  EXPECT_EQ(one.mse, 2.0);
  EXPECT_NEAR(one.aic, 4 * std::log(0.5) + 6, 1e-13);
  EXPECT_TRUE(std::isnan(one.aicc));
  // N = P: nothing to estimate the variance with; a negative or NaN S is no sum of squares.
  EXPECT_TRUE(std::isnan(fit_statistics(3, 3, 2.0).mse));
  EXPECT_EQ(fit_statistics(3, 3, 2.0).df, 0);
  for (double bad : {-1.0, std::nan("")}) {
    const Fit_statistics f = fit_statistics(20, 3, bad);
    EXPECT_TRUE(std::isnan(f.mse)) << bad;
    EXPECT_TRUE(std::isnan(f.aic)) << bad;
    EXPECT_TRUE(std::isnan(f.aicc)) << bad;
  }
  EXPECT_TRUE(std::isnan(fit_statistics(0, 0, 1.0).aic));
  // An S so small that S/N underflows still has a finite AIC, below that of a larger S.
  const double tiny_aic = fit_statistics(1000, 3, 5e-324).aic;
  EXPECT_TRUE(std::isfinite(tiny_aic));
  EXPECT_TRUE(tiny_aic < fit_statistics(1000, 3, 1e-300).aic);
}

TEST(FitStatistics, DataThatCannotDetermineTheParameters) {
  Curve_table curves;
  Fit_parameters p;
  p.n_curves = 2, p.n_points = 4, p.n_var = 3;
  for (Curve_data* curve : {&curves[0], &curves[1]}) {
    *curve = testing::make_curve(1, 1, 2);
    curve->total_of(0, 1) = curve->total_of(1, 1) = 1e-9;
  }
  EXPECT_EQ(data_determinacy(curves, p, 0.5), Determinacy::one_concentration);
  curves[1].total_of(1, 1) = 2e-9;  // the last point of the last curve differs
  EXPECT_EQ(data_determinacy(curves, p, 0.0), Determinacy::exact_fit);
  EXPECT_EQ(data_determinacy(curves, p, 1e-300), Determinacy::determined);
  p.n_var = 4;  // as many parameters as points: an exact fit is no sign
  EXPECT_EQ(data_determinacy(curves, p, 0.0), Determinacy::determined);
}

TEST(StudentT, MatchesTablesAndClosedForms) {
  // Two-sided 95 % points from published t tables.
  EXPECT_NEAR(student_t_quantile(0.975, 1), 12.7062, 5e-5);
  EXPECT_NEAR(student_t_quantile(0.975, 9), 2.2622, 5e-5);
  EXPECT_NEAR(student_t_quantile(0.975, 30), 2.0423, 5e-5);
  EXPECT_NEAR(student_t_quantile(0.975, 1000), 1.9623, 5e-5);
  EXPECT_NEAR(student_t_quantile(0.995, 5), 4.0321, 5e-5);
  EXPECT_EQ(student_t_quantile(0.5, 3), 0.0);
  EXPECT_EQ(student_t_quantile(1.0, 4), std::numeric_limits<double>::infinity());
  EXPECT_EQ(student_t_quantile(0.0, 4), -std::numeric_limits<double>::infinity());
  // Invalid arguments give NaN instead of an exception.
  for (const auto& [p, df] : {std::pair{0.975, 0.0},
                              {0.975, -2.0},
                              {1.5, 5.0},
                              {-0.1, 5.0},
                              {std::nan(""), 5.0},
                              {0.975, std::nan("")}})
    EXPECT_TRUE(std::isnan(student_t_quantile(p, df))) << p << ", " << df;
}

TEST(FDistribution, MatchesTablesAndClosedForms) {
  // Upper critical values from published F tables: P(F > f) is the level.
  struct Row {
    double f, d1, d2, level;
  };
  for (const Row& r : {Row{161.448, 1, 1, 0.05}, Row{4.9646, 1, 10, 0.05}, Row{4.4590, 2, 8, 0.05},
                       Row{2.8661, 4, 20, 0.05}, Row{4.5097, 3, 30, 0.01}})
    EXPECT_NEAR(f_upper_tail(r.f, r.d1, r.d2), r.level, 2e-5 * r.level / 0.01)
        << r.d1 << "," << r.d2;
  // With two numerator degrees of freedom, P(F > f) = (1 + 2f/d2)^(-d2/2).
  for (double f : {0.01, 0.7, 3.0, 40.0})
    EXPECT_NEAR(f_upper_tail(f, 2, 7), std::pow(1.0 + 2.0 * f / 7, -3.5), 1e-12);
  // The edges: nothing above infinity, everything above 0 or below.
  constexpr double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(f_upper_tail(0.0, 3, 4), 1.0);
  EXPECT_EQ(f_upper_tail(-2.0, 3, 4), 1.0);
  EXPECT_EQ(f_upper_tail(inf, 3, 4), 0.0);
  for (const auto& [f, d1, d2] : {std::tuple{std::nan(""), 3.0, 4.0},
                                  {2.0, 0.0, 4.0},
                                  {2.0, 3.0, -1.0},
                                  {2.0, std::nan(""), 4.0}})
    EXPECT_TRUE(std::isnan(f_upper_tail(f, d1, d2))) << f << ", " << d1 << ", " << d2;
}

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

TEST(SitePreference, WarnsOnlyWhenOppositePreferencesFitAlike) {
  Fit_parameters p;
  p.n_ligands = p.n_sites = 2, p.n_curves = 1;
  setup_parameter_names(p);
  p.n_points = 27, p.n_var = 7;  // 20 degrees of freedom
  // F(1, 20) exceeds 4.3512 with probability 0.05 (published table): the
  // worse fit's extra SS over the better one's MSE (10 / 20) decides.
  auto fits = [](double ss_exchanged, double k1_exchanged, double k2_exchanged) {
    Preference_fits f;
    f.ligand = 2;
    f.k_as_given[0] = 1e6, f.k_as_given[1] = 1e8, f.ss_as_given = 10.0;
    f.k_exchanged[0] = k1_exchanged, f.k_exchanged[1] = k2_exchanged;
    f.ss_exchanged = ss_exchanged;
    f.exchanged_kept = ss_exchanged < 10.0;
    return f;
  };
  const std::vector<std::string> lines = preference_warning(p, fits(10.0 + 0.5 * 4.30, 1e8, 1e6));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].rfind("WARNING: These data cannot tell which site ligand 2 prefers", 0), 0u);
  EXPECT_EQ(lines[2],
            "           K21 = 1.00000E+06   K22 = 1.00000E+08   SSQ = 1.00000E+01  (reported)");
  EXPECT_EQ(lines[3], "           K21 = 1.00000E+08   K22 = 1.00000E+06   SSQ = 1.21500E+01");
  EXPECT_TRUE(preference_warning(p, fits(10.0 + 0.5 * 4.40, 1e8, 1e6)).empty());
  // The exchanged fit better by a hair: still a warning, now reporting it.
  const std::vector<std::string> close = preference_warning(p, fits(9.95, 1e8, 1e6));
  ASSERT_EQ(close.size(), 5u);
  EXPECT_NE(close[3].find("(reported)"), std::string::npos);
  // Both fits in the same preference: nothing is in doubt.
  EXPECT_TRUE(preference_warning(p, fits(10.0, 2e6, 9e7)).empty());
}

}  // namespace
}  // namespace kelvora
