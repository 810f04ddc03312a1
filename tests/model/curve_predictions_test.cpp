#include <gtest/gtest.h>

#include <cmath>

#include "model/curve_predictions.hpp"

namespace kelvora {
namespace {

TEST(Weights, FollowTheCoefficientsAndReplicates) {
  const double y = 2e-11;
  EXPECT_DOUBLE_EQ(compute_weight(y, {0, 0, 0.001, 0, 0}, 3.0), 3.0 / (0.001 * y * y));
  EXPECT_DOUBLE_EQ(compute_weight(-y, {0, 0, 0, 1, 1.5}, 0.0), 1.0 / std::pow(y, 1.5));
  // A denominator of 0, below zero or not a number is floored at 1e-30.
  EXPECT_DOUBLE_EQ(compute_weight(0.0, {0, 0, 0.001, 0, 0}, 3.0), 3e30);
  EXPECT_DOUBLE_EQ(compute_weight(std::nan(""), {0, 1, 0, 0, 0}, -2.0), 1e30);
}

TEST(Weights, LogSlopeOfTheVarianceIsMinusThatOfTheWeight) {
  // v'/v = -d ln w / dY (a central difference); 0 where v is floored.
  const std::array<double, n_weight_coefs> sets[] = {
      {1e-24, 1e-12, 0.001, 0, 0}, {0, 0, 0, 2, 1.5}, {1e-22, 0, 0.01, 3, 0.5}};
  for (const auto& a : sets) {
    for (const double y : {3e-12, 8e-11, -5e-11}) {
      if (compute_weight(y, a, 1.0) == 1e30) continue;
      const double h = 1e-6 * std::abs(y);
      const double numeric =
          (std::log(compute_weight(y - h, a, 2.0)) - std::log(compute_weight(y + h, a, 2.0))) /
          (2 * h);
      EXPECT_NEAR(variance_log_slope(y, a), numeric, 1e-7 * std::abs(numeric)) << a[4] << " " << y;
    }
  }
  EXPECT_EQ(variance_log_slope(-1.0, {0, 1, 0, 0, 0}), 0.0);
}

}  // namespace
}  // namespace kelvora
