#include "report/help_screens.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "util/console.hpp"

namespace kelvora {
namespace {

// The console lines a guide prints, without their line ends.
std::vector<std::string> printed_lines(void (*print)(Console&)) {
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  print(console);
  const std::string text = out.str();
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

bool has_line(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), " " + text) != lines.end();
}

void expect_title_block(const std::vector<std::string>& lines, const std::string& title) {
  ASSERT_GE(lines.size(), 4u);
  const std::string rule = " " + std::string(61, '=');
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], rule);
  EXPECT_EQ(lines[2], " " + std::string(14, ' ') + title);
  EXPECT_EQ(lines[3], rule);
}

TEST(HelpScreens, GuidesHaveTheirLengthsTitlesAndOnlyFreeFormLines) {
  const auto menu = printed_lines(print_main_menu_help);
  const auto file = printed_lines(print_crv_file_format_help);
  EXPECT_EQ(menu.size(), 126u);
  EXPECT_EQ(file.size(), 88u);
  for (const auto* guide : {&menu, &file}) {
    for (const auto& line : *guide) {
      ASSERT_FALSE(line.empty());
      EXPECT_EQ(line.front(), ' ') << line;
    }
  }
  expect_title_block(menu, "KELVORA MENU GUIDE");
  expect_title_block(file, "KELVORA FILE GUIDE");
}

TEST(HelpScreens, MenuGuideHoldsTheSampleAnswersAndSuggestedConstants) {
  const auto menu = printed_lines(print_main_menu_help);
  for (const std::string text : {
           "    CHOOSE OPTION (1-5): 1",
           "    ENTER INPUT DATA FILE NAME(S), (NO \".CRV\" EXTENSION)",
           "    NUMBER OF BINDING SITES: 1",
           "    LIST OF CONSTANT PARAMETERS [DEFAULT: C1 C2 B1]: N2 C1 C2 B1",
           " o Standard fit: C1 C2 B1 (fix correction factors and cooperativity)",
           " o Fix nonspecific: N1 N2 C1 C2 B1",
           " o Fix affinity K: K11 C1 C2 B1 (when known from previous experiment)",
           " o No constraints: NONE",
           "    [Li]total = [Li]free + SUMj{ (KA,ij * [Li]free * [Rj]free) }",
           "    o Refit the same data using current parameter values (Y/N) [Y]: Y",
       }) {
    EXPECT_TRUE(has_line(menu, text)) << text;
  }
  EXPECT_EQ(menu.back(), " ");
}

TEST(HelpScreens, FileGuideHoldsTheLigandPairsAndAssayTable) {
  const auto file = printed_lines(print_crv_file_format_help);
  for (const std::string text : {
           " \"1, 1\" (Saturation/Scatchard): Ligand #1 varies, Ligand #1 is labeled --> same "
           "ligand",
           " \"2, 1\" (Cold-Hot Competition): Ligand #2 varies (hot), Ligand #1 is labeled (cold)",
           "| Saturation  | 1, 1   | 0.0         | Total [Hot]    | [Hot] Bound Ligand |",
           "| Competition | 1, 2   | Fixed [Hot] | Total [Cold]   | [Hot] Bound Ligand |",
           "  Constant variance: 0.0, 0.0, 0.001, 0.0, 0.0  (Typical)",
           "   All concentrations in MOLAR units!",
       }) {
    EXPECT_TRUE(has_line(file, text)) << text;
  }
  EXPECT_EQ(std::count(file.begin(), file.end(), " " + std::string(77, '=')), 3);
}

}  // namespace
}  // namespace kelvora
