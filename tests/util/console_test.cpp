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

TEST(Console, CollectsDiagnosticsAndAQuietOnePrintsOnlyWarningsAndItsUnmutedLines) {
  std::istringstream in;
  std::ostringstream out, diagnostics;
  Console console(in, out);
  console.set_quiet(&diagnostics);
  console.exact("Read    8 data points");
  console.exact("WARNING: Ligand 2 is never the labelled ligand: K21 and N2");
  console.exact("         enter the model only as K21/(1 + C*N2)");
  console.free_form("N2 is poorly determined by these data");
  console.exact("     not a continuation: it follows an ordinary line");
  console.exact("ERROR: x.CRV, line 4: a number expected");
  console.prompt("NUMBER OF BINDING SITES: ");
  {
    const Console::Unmuted table(console);
    console.exact("K11 = 1.0");
  }
  console.exact("dropped again");
  EXPECT_EQ(out.str(), "K11 = 1.0\n");
  EXPECT_EQ(diagnostics.str(),
            "WARNING: Ligand 2 is never the labelled ligand: K21 and N2\n"
            "         enter the model only as K21/(1 + C*N2)\n");
  ASSERT_EQ(console.warnings().size(), 1u);
  EXPECT_EQ(console.warnings()[0],
            "WARNING: Ligand 2 is never the labelled ligand: K21 and N2 enter the model only as "
            "K21/(1 + C*N2)");
  EXPECT_EQ(console.last_error(), "ERROR: x.CRV, line 4: a number expected");
  console.clear_warnings();
  console.set_quiet(nullptr);
  console.exact("printed");
  EXPECT_TRUE(console.warnings().empty());
  EXPECT_EQ(out.str(), "K11 = 1.0\nprinted\n");
}

}  // namespace
}  // namespace kelvora
