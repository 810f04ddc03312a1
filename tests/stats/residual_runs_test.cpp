#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "stats/runs_test.hpp"
#include "support/dialogue.hpp"

namespace kelvora {
namespace {

using testing::Dialogue;

// Residual signs as text: '+' above the prediction, '-' below, '0' on it.
Run_counts count(const std::string& signs) {
  std::vector<double> obs, pred(signs.size(), 0.0);
  for (const char c : signs) obs.push_back(c == '+' ? 1.0 : c == '-' ? -1.0 : 0.0);
  return compute_residual_runs(obs.data(), pred.data(), 0, static_cast<int>(signs.size()));
}

struct Verdict_case {
  const char* signs;
  int runs;
  Runs_verdict verdict;
  const char* pattern;  // the pattern line, or "" for none
};

class RunsTest : public ::testing::TestWithParam<Verdict_case> {};

TEST_P(RunsTest, CountsRunsAndDecides) {
  const auto& c = GetParam();
  const Run_counts counts = count(c.signs);
  EXPECT_EQ(counts.runs, c.runs);
  const Critical_runs critical = get_critical_values(counts.n_pos, counts.n_neg);
  const Runs_verdict verdict = runs_test2(counts.runs, critical);
  EXPECT_EQ(verdict, c.verdict);
  Dialogue d("");
  const int n = static_cast<int>(std::string(c.signs).size());
  print_runs_test_result2(d.console(), 1, counts, n, verdict, critical);
  if (*c.pattern) {
    EXPECT_TRUE(d.has_line(c.pattern)) << d.transcript();
  } else {
    EXPECT_EQ(d.transcript().find("Pattern"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Patterns, RunsTest,
                         ::testing::Values(
                             // Balanced signs: the table of the group size (m = 5: 3 and 9).
                             Verdict_case{"+++++-----", 2, Runs_verdict::significant,
                                          "  Pattern: Too few runs (severe clustering)."},
                             Verdict_case{"+-+-+-+-+-", 10, Runs_verdict::significant,
                                          "  Pattern: Too many runs (severe oscillation)."},
                             Verdict_case{"+++--++---", 4, Runs_verdict::random, ""},
                             Verdict_case{"++--++--+-", 6, Runs_verdict::random, ""},
                             // m = 4: 3 runs lie on the 0.10 limit only.
                             Verdict_case{"+++----+", 3, Runs_verdict::marginal,
                                          "  Pattern: Too few runs (clustering of residuals)."},
                             // Unbalanced signs use the numbers of each sign: 9 + and 1 - in
                             // three runs is what random order gives most often.
                             Verdict_case{"++++-+++++", 3, Runs_verdict::random, ""},
                             Verdict_case{"++++++++--", 2, Runs_verdict::significant,
                                          "  Pattern: Too few runs (severe clustering)."},
                             // One sign only is one run, and clustering.
                             Verdict_case{"++++++++++", 1, Runs_verdict::significant,
                                          "  Pattern: Too few runs (severe clustering)."},
                             // Zeros extend the current run and count in neither group.
                             Verdict_case{"0+0+-0-", 2, Runs_verdict::significant,
                                          "  Pattern: Too few runs (severe clustering)."},
                             Verdict_case{"+-+", 3, Runs_verdict::significant,
                                          "  Pattern: Too many runs (severe oscillation)."}));

TEST(RunsTestCriticalValues, TableEdgesAndTheNormalApproximation) {
  const auto m2 = get_critical_values(2, 2);
  EXPECT_EQ(m2.lo05, 2);
  EXPECT_EQ(m2.hi05, 4);
  const auto m20 = get_critical_values(20, 20);
  EXPECT_EQ(m20.lo05, 12);
  EXPECT_EQ(m20.lo10, 13);
  EXPECT_EQ(m20.hi10, 29);
  EXPECT_EQ(m20.hi05, 30);
  // 41 points in two halves: 20 and 21 is beyond the table.
  const auto big = get_critical_values(20, 21);
  const double mean = 2.0 * 20 * 21 / 41 + 1;
  const double sigma = std::sqrt((840.0 - 41) * 840 / (41.0 * 41 * 40));
  EXPECT_DOUBLE_EQ(big.lo05, mean - 1.96 * sigma - 0.5);
  EXPECT_DOUBLE_EQ(big.hi10, mean + 1.645 * sigma + 0.5);
}

TEST(RunsTestReport, PrintsTheCountsOfEachCurve) {
  Curve_table curves;
  Fit_parameters params;
  params.n_curves = 2;
  for (auto& c : {&curves[0], &curves[1]}) {
    allocate_curve_data(*c);
    c->n_points = 10;
    for (int j = 0; j < 10; ++j) c->bound[j] = j < 5 ? 1.0 : -1.0;
  }
  Dialogue d("");
  calculate_runs(d.console(), curves, params);
  EXPECT_TRUE(d.has_line(" Curve number:                2"));
  EXPECT_TRUE(d.has_line(" Number of data points:      10"));
  EXPECT_TRUE(d.has_line(" Observed runs:               2"));
  EXPECT_TRUE(d.has_line(" Expected runs (random):     6.00"));
  EXPECT_TRUE(d.has_line("  Result: SIGNIFICANT (p = 0.05)"));
}

}  // namespace
}  // namespace kelvora
