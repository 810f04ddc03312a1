#include "stats/model_comparison.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "stats/fit_statistics.hpp"
#include "util/fields.hpp"

namespace kelvora {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

std::string sites_text(int sites) {
  return std::to_string(sites) + (sites == 1 ? " site " : " sites");
}

}  // namespace

double aicc(const Model_fit& fit) {
  return fit_statistics(fit.n_points, fit.n_var, fit.ss).aicc;
}

Model_comparison compare_models(const Model_fit& a, const Model_fit& b) {
  Model_comparison c;
  c.simple = a.sites <= b.sites ? a : b;
  c.rich = a.sites <= b.sites ? b : a;
  c.aicc_simple = aicc(c.simple);
  c.aicc_rich = aicc(c.rich);
  // w = exp(-Δ/2) / (1 + exp(-Δ/2)), Δ = AICc(rich) - AICc(simple).
  const double delta = c.aicc_rich - c.aicc_simple;
  c.rich_weight = std::isfinite(delta) ? 1.0 / (1.0 + std::exp(delta / 2.0)) : not_a_number;
  c.ss_lower = c.rich.ss < c.simple.ss;
  const int extra = c.simple.df() - c.rich.df();
  c.testable = c.ss_lower && extra > 0 && c.rich.df() > 0 && c.rich.ss > 0.0;
  if (c.testable) {
    c.f = ((c.simple.ss - c.rich.ss) / extra) / (c.rich.ss / c.rich.df());
    c.p = f_upper_tail(c.f, extra, c.rich.df());
    c.rich_better = c.p < 0.05;
  }
  return c;
}

std::vector<std::string> model_comparison_lines(const Model_comparison& c) {
  const int s1 = c.simple.sites;
  const int s2 = c.rich.sites;
  std::vector<std::string> lines;
  lines.push_back("MODEL COMPARISON (" + std::to_string(s1) + " vs " + std::to_string(s2) +
                  " sites)");
  for (const Model_fit* fit : {&c.simple, &c.rich}) {
    lines.push_back("  " + sites_text(fit->sites) + ":  SSQ = " + fmt_es(fit->ss, 12, 4) +
                    "   DF = " + fmt_i(fit->df(), 4) + "   AICc = " + fmt_es(aicc(*fit), 12, 4));
  }
  if (!c.ss_lower) {
    lines.push_back("  The " + std::to_string(s2) + "-site fit has no lower SSQ than the " +
                    std::to_string(s1) + "-site fit: no F test.");
  } else if (!c.testable) {
    lines.push_back("  No F test: the " + std::to_string(s2) +
                    "-site fit has no more fitted parameters, or no degrees of freedom left.");
  } else {
    lines.push_back("  F = " + fmt_es(c.f, 12, 4) + "  (DF " + fmt_i0(c.simple.df() - c.rich.df()) +
                    ", " + fmt_i0(c.rich.df()) + ")   p = " + fmt_es(c.p, 12, 4));
  }
  lines.push_back("  Akaike weight of the " + std::to_string(s2) + "-site model = " +
                  (std::isfinite(c.rich_weight) ? fmt_f(c.rich_weight, 6, 4) : "N/A"));
  const std::string model = s2 == 2 ? "two-site" : std::to_string(s2) + "-site";
  lines.push_back(c.rich_better
                      ? "  Verdict: the " + model + " model fits significantly better (p < 0.05)"
                      : "  Verdict: the " + model + " model is not justified by the data");
  return lines;
}

}  // namespace kelvora
