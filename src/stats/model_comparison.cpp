#include "stats/model_comparison.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "util/fields.hpp"

namespace kelvora {

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// The continued fraction of I_x(a, b) (modified Lentz), which converges fast
// for x < (a + 1)/(a + b + 2).
double beta_fraction(double a, double b, double x) {
  constexpr double tiny = 1e-300;
  constexpr double eps = 1e-15;
  double c = 1.0;
  double d = 1.0 - (a + b) * x / (a + 1.0);
  if (std::abs(d) < tiny) d = tiny;
  d = 1.0 / d;
  double h = d;
  for (int m = 1; m <= 1000; ++m) {
    const double m2 = 2.0 * m;
    // The even step, then the odd step of the fraction.
    double term = m * (b - m) * x / ((a + m2 - 1.0) * (a + m2));
    d = 1.0 + term * d;
    c = 1.0 + term / c;
    d = 1.0 / (std::abs(d) < tiny ? tiny : d);
    c = std::abs(c) < tiny ? tiny : c;
    h *= d * c;
    term = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1.0));
    d = 1.0 + term * d;
    c = 1.0 + term / c;
    d = 1.0 / (std::abs(d) < tiny ? tiny : d);
    c = std::abs(c) < tiny ? tiny : c;
    const double step = d * c;
    h *= step;
    if (std::abs(step - 1.0) < eps) break;
  }
  return h;
}

std::string sites_text(int sites) {
  return std::to_string(sites) + (sites == 1 ? " site " : " sites");
}

}  // namespace

double incomplete_beta(double a, double b, double x) {
  if (!(a > 0.0 && b > 0.0) || !(x >= 0.0 && x <= 1.0)) return not_a_number;
  if (x == 0.0 || x == 1.0) return x;
  // x^a (1-x)^b / (a B(a, b)), in logarithms.
  const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                a * std::log(x) + b * std::log1p(-x));
  if (x < (a + 1.0) / (a + b + 2.0)) return front * beta_fraction(a, b, x) / a;
  // I_x(a, b) = 1 - I_{1-x}(b, a), where the fraction converges.
  return 1.0 - front * beta_fraction(b, a, 1.0 - x) / b;
}

double f_upper_tail(double f, double d1, double d2) {
  if (!(d1 > 0.0 && d2 > 0.0) || std::isnan(f)) return not_a_number;
  if (f <= 0.0) return 1.0;
  if (std::isinf(f)) return 0.0;
  return incomplete_beta(d2 / 2.0, d1 / 2.0, d2 / (d2 + d1 * f));
}

double aicc(const Model_fit& fit) {
  const double n = fit.n_points;
  const double p = fit.n_var;
  if (!(fit.ss > 0.0) || n - p - 1.0 <= 0.0) return not_a_number;
  return n * std::log(fit.ss / n) + 2.0 * p + 2.0 * p * (p + 1.0) / (n - p - 1.0);
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
    lines.push_back("  " + sites_text(fit->sites) + ":  SSQ = " + fmt_es_or_na(fit->ss, 12, 4) +
                    "   DF = " + fmt_i(fit->df(), 4) +
                    "   AICc = " + fmt_es_or_na(aicc(*fit), 12, 4));
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
