#include "util/order_statistics.hpp"

#include <gtest/gtest.h>

namespace kelvora {
namespace {

TEST(OrderStatistics, PercentilesAndMedians) {
  const double two[] = {1.0, 3.0};
  EXPECT_DOUBLE_EQ(percentile(two, 2, 2.5), 1.05);
  EXPECT_DOUBLE_EQ(percentile(two, 2, 97.5), 2.95);
  EXPECT_DOUBLE_EQ(median_of_sorted(two, 2), 2.0);
  const double one[] = {7.0};
  EXPECT_EQ(percentile(one, 1, 2.5), 7.0);
  EXPECT_EQ(percentile(one, 1, 100.0), 7.0);
  EXPECT_EQ(median_of_sorted(one, 1), 7.0);
  // 100 values 1..100: the 2.5th percentile lies at position 3.475.
  double hundred[100];
  for (int i = 0; i < 100; ++i) hundred[i] = i + 1.0;
  EXPECT_DOUBLE_EQ(percentile(hundred, 100, 2.5), 3.475);
  EXPECT_DOUBLE_EQ(percentile(hundred, 100, 0.0), 1.0);
}

}  // namespace
}  // namespace kelvora
