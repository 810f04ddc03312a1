#include "util/text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

namespace kelvora {
namespace {

TEST(Uppercase, FoldsLettersOutsideQuotedStretches) {
  EXPECT_EQ(uppercase("k11 'k12' r1"), "K11 'k12' R1");
  EXPECT_EQ(uppercase("n1 \"c1\" b1   "), "N1 \"c1\" B1");
  EXPECT_EQ(uppercase("k11 'r1 n1"), "K11 'r1 n1");  // unclosed stretch runs to the end
  EXPECT_EQ(uppercase("a\"b'c\"d"), "A\"b'c\"D");    // only the opening quote closes
  EXPECT_EQ(uppercase("\xe9t\xe9"), "\xe9T\xe9");    // bytes above 127 are copied
  EXPECT_EQ(uppercase("   "), "");
}

TEST(SplitItems, SeparatesByBlanksOrOneComma) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(split_items("2, 5"), (V{"2", "5"}));
  EXPECT_EQ(split_items("  1.0E-08,2.5E-10   3.0  "), (V{"1.0E-08", "2.5E-10", "3.0"}));
  EXPECT_EQ(split_items("1,,3"), (V{"1", "", "3"}));
  EXPECT_EQ(split_items(",5"), (V{"", "5"}));
  EXPECT_EQ(split_items("1, 2,"), (V{"1", "2"}));
  EXPECT_TRUE(split_items("   ").empty());
}

TEST(ParseReal, AcceptsFortranStyleNumbersAndNothingElse) {
  const double inf = HUGE_VAL;
  const std::pair<const char*, double> cases[] = {
      {"1.0E-09", 1.0e-9}, {"2.5d-10", 2.5e-10}, {"3D2", 300.0}, {"-1e+3", -1000.0},
      {"5.", 5.0},         {".5", 0.5},          {"+.5E1", 5.0}, {"1e-400", 0.0},
      {"1e400", inf},      {"-Infinity", -inf},  {"-inf", -inf}};
  for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(*parse_real(text), value) << text;
  EXPECT_TRUE(std::isnan(*parse_real("NaN")));
  for (const char* item : {"", "x", "!", "1.0E", "E5", ".", "-", "1.0.0", "1e5x", "0x10", "1,0"})
    EXPECT_FALSE(parse_real(item).has_value()) << item;
}

TEST(ParseInteger, AcceptsDigitsWithinRangeOnly) {
  EXPECT_EQ(*parse_integer("2"), 2);
  EXPECT_EQ(*parse_integer("+7"), 7);
  EXPECT_EQ(*parse_integer("-3"), -3);
  for (const char* item : {"", "x", "2.5", "1e3", "+", "-", "+-1", "99999999999"})
    EXPECT_FALSE(parse_integer(item).has_value()) << item;
}

}  // namespace
}  // namespace kelvora
