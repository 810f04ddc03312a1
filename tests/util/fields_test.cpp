#include "util/fields.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace kelvora {
namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

struct Real_case {
  double value;
  int width;
  int decimals;
  const char* expected;
};

class FixedField : public ::testing::TestWithParam<Real_case> {};

TEST_P(FixedField, MatchesFortranFixedForm) {
  const auto& c = GetParam();
  EXPECT_EQ(fmt_f(c.value, c.width, c.decimals), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, FixedField,
    ::testing::Values(Real_case{0.05, 6, 3, " 0.050"}, Real_case{-0.0051, 10, 4, "   -0.0051"},
                      Real_case{2.7, 6, 0, "    3."},     // Fw.0 keeps the point
                      Real_case{1000.0, 6, 3, "******"},  // overflow
                      Real_case{-100.0, 6, 2, "******"},  // the sign needs a column
                      Real_case{99.996, 6, 2, "100.00"},  // rounding reaches the edge
                      // No result: N/A in the field's width.
                      Real_case{nan, 6, 2, "   N/A"}, Real_case{-inf, 3, 2, "N/A"},
                      Real_case{nan, 2, 1, "**"}));

class ScientificField : public ::testing::TestWithParam<Real_case> {};

TEST_P(ScientificField, ShowsOneDigitBeforeThePointAndASignedExponent) {
  const auto& c = GetParam();
  EXPECT_EQ(fmt_es(c.value, c.width, c.decimals), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, ScientificField,
    ::testing::Values(Real_case{1.23456e-9, 12, 5, " 1.23456E-09"},
                      Real_case{-1.0e-10, 12, 5, "-1.00000E-10"},
                      Real_case{0.0, 12, 5, " 0.00000E+00"},
                      Real_case{9.9999996e-10, 12, 5, " 1.00000E-09"},  // carry into the exponent
                      Real_case{1.0e-300, 12, 5, "1.00000E-300"},       // three-digit exponent
                      Real_case{-1.0e-300, 12, 5, "************"},
                      Real_case{2.0e150, 14, 4, "   2.0000E+150"}, Real_case{1.0, 5, 5, "*****"},
                      Real_case{nan, 16, 8, "             N/A"},
                      Real_case{-inf, 14, 4, "           N/A"}));

TEST(IntegerField, RightAlignsAndOverflowsToAsterisks) {
  EXPECT_EQ(fmt_i(-12, 4), " -12");
  EXPECT_EQ(fmt_i(12345, 4), "****");
  EXPECT_EQ(fmt_i(-100, 3), "***");
  EXPECT_EQ(fmt_i0(-250), "-250");
}

TEST(TextField, RightJustifiesShortTextAndCutsLongText) {
  EXPECT_EQ(fmt_a("#", 6), "     #");
  EXPECT_EQ(fmt_a("bootstrap_sample", 9), "bootstrap");
  EXPECT_EQ(fmt_left("K11", 10), "K11       ");
  EXPECT_EQ(fmt_left("ABCDEFGHIJKL", 10), "ABCDEFGHIJ");
}

TEST(FamiliarConcentration, TakesTheNearerOfNanoAndPicomolarWithThreeDigits) {
  const std::pair<double, const char*> cases[] = {
      {5.03e-10, "0.503 nM"},  {1.0e-10, "0.100 nM"}, {9.9996e-10, "1.00 nM"},
      {1.25e-6, "1250 nM"},    {5.03e-11, "50.3 pM"}, {9.996e-11, "100 pM"},
      {2.0e-15, "0.00200 pM"}, {0.0, "N/A"},          {-1e-9, "N/A"}};
  for (const auto& [molar, expected] : cases) EXPECT_EQ(familiar_concentration(molar), expected);
}

}  // namespace
}  // namespace kelvora
