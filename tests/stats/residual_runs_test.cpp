#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <tuple>

#include "stats/runs_test.hpp"
#include "support/dialogue.hpp"

namespace kelvora {
namespace {

// Residual signs as text: '+' above the prediction, '-' below, '0' on it.
Run_counts count(const std::string& signs) {
  std::vector<double> obs, pred(signs.size(), 0.0);
  for (const char c : signs) obs.push_back(c == '+' ? 1.0 : c == '-' ? -1.0 : 0.0);
  return compute_residual_runs(obs.data(), pred.data(), 0, static_cast<int>(signs.size()));
}

TEST(RunsDistribution, MatchesAllArrangementsAndHoldsAtAThousandPoints) {
  for (int n = 1; n <= 12; ++n) {
    for (int n1 = 0; n1 <= n; ++n1) {
      std::vector<double> seen(n + 2, 0.0);  // runs over every order of n1 '+' and the rest '-'
      std::string signs = std::string(n1, '+') + std::string(n - n1, '-');
      do seen[count(signs).runs] += 1.0;
      while (std::next_permutation(signs.begin(), signs.end()));
      const double all = std::accumulate(seen.begin(), seen.end(), 0.0);
      const std::vector<double> p = runs_distribution(n1, n - n1);
      for (int r = 0; r < n + 2; ++r) EXPECT_NEAR(p[r] * all, seen[r], 1e-9);
    }
  }
  const std::vector<double> p = runs_distribution(600, 400);
  EXPECT_NEAR(std::accumulate(p.begin(), p.end(), 0.0), 1.0, 1e-9);
  EXPECT_TRUE(runs_test2({500, 500, 1000}).p < 1e-290);
  EXPECT_TRUE(runs_test2({500, 500, 500}).p > 0.5);
}

// Signs, runs, a line of the verdict and the p printed.
using Verdict_case = std::tuple<std::string, int, std::string, std::string>;
class RunsTest : public ::testing::TestWithParam<Verdict_case> {};

TEST_P(RunsTest, CountsRunsAndDecidesFromTheExactDistribution) {
  const auto& [signs, runs, line, p] = GetParam();
  const Run_counts counts = count(signs);
  EXPECT_EQ(counts.runs, runs);
  testing::Dialogue d("");
  print_runs_test_result2(d.console(), 1, counts, int(signs.size()), runs_test2(counts));
  EXPECT_TRUE(d.has_line(line)) << d.transcript();
  const int at = d.find_line("  Exact p (two-sided) = " + p);  // right under the result
  ASSERT_GT(at, 0) << d.transcript();
  EXPECT_EQ(d.lines()[at - 1].rfind("  Result: ", 0), 0u);
}

const std::string random = "  Residuals appear randomly distributed.", pattern = "  Pattern: Too ";
INSTANTIATE_TEST_SUITE_P(
    Sequences, RunsTest,
    ::testing::Values(
        // 10 + and 10 - in 20 runs: p = 2 * 2/C(20,10) = 2.2e-5.
        Verdict_case{"+-+-+-+-+-+-+-+-+-+-", 20, pattern + "many runs (severe oscillation).",
                     "< 0.0001"},
        // 5 + and 5 - in 2 runs: P(R <= 2) = 2/252, p = 4/252; in 3 runs: 10/252, p = 20/252.
        Verdict_case{"+++++-----", 2, pattern + "few runs (severe clustering).", "0.0159"},
        Verdict_case{"++++-----+", 3, pattern + "few runs (clustering of residuals).", "0.0794"},
        // One odd residual at an end of 80 points: chance 2/80, p = 0.05; of 10: 2/10.
        Verdict_case{"-" + std::string(79, '+'), 2, pattern + "few runs (severe clustering).",
                     "0.0500"},
        Verdict_case{"-+++++++++", 2, random, "0.4000"},
        Verdict_case{"++++++++++", 1, random, "1.0000"},
        // 2 + and 2 - in 2 runs: P(R = 2) = 2/C(4,2), p = 2/3.
        Verdict_case{"0+0+-0-", 2, random, "0.6667"},
        Verdict_case{"", 1, " Expected runs (random):     1.00", "1.0000"}));

}  // namespace
}  // namespace kelvora
