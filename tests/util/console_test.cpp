#include "util/console.hpp"

#include <gtest/gtest.h>

#include "support/dialogue.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

TEST(Console, PrintsTheFourKindsOfLine) {
  Dialogue s("", false);
  s.console().exact("ERROR: x");
  s.console().free_form("MAIN MENU:");
  s.console().empty_line();
  s.console().prompt("CHOOSE OPTION (1-5): ");
  EXPECT_EQ(s.transcript(), "ERROR: x\n MAIN MENU:\n\nCHOOSE OPTION (1-5): ");
}

TEST(Console, ReadsLinesWithoutLineEndsAndCutsLongOnes) {
  Dialogue s("first\r\n" + std::string(90, 'a') + "\nlast", false);
  EXPECT_EQ(*s.console().read_line(), "first");
  EXPECT_EQ(*s.console().read_line(), std::string(80, 'a'));
  EXPECT_EQ(*s.console().read_line(2), "la");
  EXPECT_FALSE(s.console().read_line().has_value());
}

TEST(Console, NumberAnswersSkipEmptyLinesAndTakeTheFirstItem) {
  Dialogue s("\n   \n2, 5\nx 1\n7.5d-1 3\n\n", false);
  auto first = s.console().read_integer();
  EXPECT_EQ(first.status, Answer_status::ok);
  EXPECT_EQ(first.value, 2);
  EXPECT_EQ(s.console().read_integer().status, Answer_status::not_a_number);
  auto real = s.console().read_real();
  EXPECT_EQ(real.status, Answer_status::ok);
  EXPECT_DOUBLE_EQ(real.value, 0.75);
  EXPECT_EQ(s.console().read_integer().status, Answer_status::end_of_input);
}

TEST(Console, EchoesAnswersWhenAsked) {
  Dialogue s("1\r\n");
  s.console().prompt("Q: ");
  EXPECT_EQ(s.console().read_integer().value, 1);
  EXPECT_EQ(s.transcript(), "Q: 1\n");
}

}  // namespace
}  // namespace kelvora
