#include "stats/fit_statistics.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

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

}  // namespace
}  // namespace kelvora
