// Whole analyses driven by scripted answers over the example curve files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/program.hpp"
#include "report/example_files.hpp"
#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

struct Analysis_run {
  // Runs the program on `answers` in a fresh folder holding the example
  // files and the curve files `extra` (name, text).
  explicit Analysis_run(const std::string& answers,
                        const std::vector<std::pair<std::string, std::string>>& extra = {})
      : dialogue(answers) {
    create_tutorial_files(quiet.console());
    for (const auto& [name, text] : extra) testing::write_text(name, text);
    status = run_program(dialogue.console(), std::chrono::milliseconds(0));
  }
  // The value of a parameter in the last summary of `stem`.out.
  double fitted(const std::string& stem, const std::string& name) const {
    const std::string text = testing::read_text(stem + ".out");
    const std::string key = "\n" + fmt_left(name, 10) + " = ";
    const auto at = text.rfind(key);
    if (at == std::string::npos) return -1.0;
    return *parse_real(trim(text.substr(at + key.size(), 14)));
  }
  int count(const std::string& line) const {
    const auto lines = dialogue.lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  testing::Scratch_folder folder;
  Dialogue quiet{""};
  Dialogue dialogue;
  int status = -1;
};

std::string blanks(int n) {
  return std::string(n, '\n');
}

// EX1_SAT, one site, up to the automatic-estimates question.
const std::string ex1_start = "1\nex1\nEX1_SAT\n\n1\n";

TEST(Analysis, FitsTheSaturationExampleFromItsOwnValues) {
  // N1 held at 0 (raised to 1e-15); the estimates dialogue that follows the
  // "N" offers it again at that value, and ENTER keeps it.
  Analysis_run run(ex1_start + "N1 C1 B1\n0\n" + blanks(5) + "N\n" + blanks(5) + "N\n5\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.count("N1 = [ 1.00000E-15]: "), 1);
  EXPECT_EQ(run.fitted("ex1", "N1"), 1e-15);
  EXPECT_NEAR(run.fitted("ex1", "K11") / 1e9, 1.0, 1e-5);
  EXPECT_NEAR(run.fitted("ex1", "R1") / 1e-10, 1.0, 1e-5);
  const std::string text = testing::read_text("ex1.out");
  const auto ssq = text.find("SUM OF SQUARED RESIDUALS (SSQ) = ");
  ASSERT_NE(ssq, std::string::npos);
  EXPECT_LT(*parse_real(trim(text.substr(ssq + 33, 14))), 1e-6);
  EXPECT_EQ(run.count(" COMPLETED SINGLE-CURVE OPTIMIZATION"), 1);
  EXPECT_EQ(run.count("  Result: RANDOM (p > 0.10)"), 1);
}

TEST(Analysis, DefaultAnswersFitTheExampleAndARefitAppends) {
  // Every default accepted, then another fit with the same model refitted
  // from the values of the first pass.
  Analysis_run run(ex1_start + blanks(8) + "Y\n1\n\n\nY\nN\n5\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_NEAR(run.fitted("ex1", "K11") / 1e9, 1.0, 0.01);
  EXPECT_NEAR(run.fitted("ex1", "R1") / 1e-10, 1.0, 0.01);
  EXPECT_LT(run.fitted("ex1", "N1"), 1e-4);
  EXPECT_EQ(run.count("   R-squared =  1.00000"), 1);
  EXPECT_EQ(run.count("REFIT THE SAME DATA USING CURRENT PARAMETER VALUES (Y/N) [Y]: Y"), 1);
  EXPECT_EQ(run.count("   INITIAL PARAMETER ESTIMATES"), 1);  // first pass only
  const std::string text = testing::read_text("ex1.out");
  EXPECT_NE(text.find("FINAL PARAMETER ESTIMATES"), text.rfind("FINAL PARAMETER ESTIMATES"));
}

TEST(Analysis, ChangedNumberOfSitesAsksForEstimatesAgain) {
  Analysis_run run(ex1_start + blanks(8) + "Y\n2\n" + blanks(2 + 3 + 5) + "N\n" + blanks(8) +
                   "N\n5\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.count("   INITIAL PARAMETER ESTIMATES"), 3);
  EXPECT_EQ(run.count("REFIT THE SAME DATA USING CURRENT PARAMETER VALUES (Y/N) [Y]: "), 0);
  EXPECT_GT(run.fitted("ex1", "K12"), 0.0);
  // The second site adds nothing to EX1_SAT.
  const std::string verdict = "  Verdict: the two-site model is not justified by the data";
  EXPECT_EQ(run.count(" MODEL COMPARISON (1 vs 2 sites)"), 1);
  EXPECT_EQ(run.count(" " + verdict), 1);
  EXPECT_NE(testing::read_text("ex1.out").find(verdict + "\n"), std::string::npos);
}

TEST(Analysis, TwoSitesFitTheTwoSiteExampleSignificantlyBetter) {
  Analysis_run run("1\nex3\nEX3_TWOSITE\n\n1\n" + blanks(8) + "Y\n2\n" + blanks(14) + "N\n5\n");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.count("   Verdict: the two-site model fits significantly better (p < 0.05)"), 1);
  EXPECT_EQ(run.count("CURVE: EX3_TWOSITE"), 2);  // the detailed results of both fits
  EXPECT_EQ(run.count(" Curve number:                1"), 2);
  EXPECT_GT(run.fitted("ex3", "R2"), 0.0);
}

TEST(Analysis, CompetitionCurveAloneIsPreadjusted) {
  // EX2_COMP alone: ligand 1 competes with labelled ligand 2; K11 held at 1e9.
  Analysis_run run("1\ncomp\nEX2_COMP\n\n1\nK11 C1 B1\n" + blanks(9) + "N\n5\n");
  EXPECT_EQ(run.status, 0);
  const int block = run.dialogue.find_line("   COMPETITION PRE-ADJUSTMENT");
  ASSERT_GE(block, 0);
  EXPECT_EQ(run.count("   K21 (cold) FIXED AT =  1.00000E+09"), 1);
  EXPECT_EQ(run.count("    SCHLIEBS-BIGL PARAMETER ESTIMATION"), 0);
  EXPECT_GT(run.dialogue.find_line("   PARAMETER SUMMARY BEFORE FITTING"), block);
  EXPECT_EQ(run.fitted("comp", "K11"), 1e9);
}

TEST(Analysis, CancelledFitReturnsToTheSetUpAndAnUnfittedAnalysisWritesNothing) {
  // Cancelled once, then fitted with one site: the second set-up asks the
  // number of sites again.
  Analysis_run cancelled(ex1_start + blanks(6) + "n\n1\n" + blanks(8) + "N\n5\n");
  EXPECT_EQ(cancelled.status, 0);
  EXPECT_EQ(cancelled.count(" Fit cancelled. Returning to setup..."), 1);
  EXPECT_EQ(cancelled.count(" COMPLETED SINGLE-CURVE OPTIMIZATION"), 1);
  EXPECT_EQ(cancelled.count(" Receptor binding analysis complete."), 1);
  EXPECT_TRUE(std::filesystem::exists("ex1_Plot.out"));

  // The input ends in the estimates dialogue: nothing is written, the older
  // results stay, then the program ends at the menu with status 0.
  Analysis_run ended(ex1_start + "\n\n", {{"ex1.out", "older\n"}});
  EXPECT_EQ(ended.status, 0);
  EXPECT_EQ(testing::read_text("ex1.out"), "older\n");
  EXPECT_FALSE(std::filesystem::exists("ex1_Plot.out"));
  EXPECT_EQ(ended.count(" No fit was made; earlier results of ex1 are unchanged."), 1);
  EXPECT_EQ(ended.count(" MAIN MENU:"), 2);
}

}  // namespace
}  // namespace kelvora
