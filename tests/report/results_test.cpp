#include "report/results.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <utility>

#include "stats/bootstrap_se.hpp"
#include "support/dialogue.hpp"
#include "support/records.hpp"

namespace kelvora {
namespace {

using testing::listed_parameters;

std::string summary(const Fit_parameters& p, const Fit_outcome& opt,
                    const std::vector<Ratio_only>& ratio_only = {}) {
  std::ostringstream out;
  write_output_summary(out, p, opt, ratio_only);
  return out.str();
}

TEST(ResidualPlot, OneColumnPerHundredthAroundTheBar) {
  auto star = [](double v) { return static_cast<int>(make_residual_plot(v).find('*')) + 1; };
  EXPECT_EQ(star(0.005), 21);  // halves round away from zero
  EXPECT_EQ(star(-0.005), 19);
  EXPECT_EQ(star(0.9), 40);
  EXPECT_EQ(star(-0.9), 1);
  EXPECT_EQ(star(1e300), 40);
  EXPECT_EQ(make_residual_plot(-0.9), "*                  |" + std::string(20, ' '));
}

TEST(DetailedResults, PrintsRatiosOfTheLabelledLigand) {
  Curve_table curves;
  Curve_data& c = curves[0] = testing::make_curve(1, 2, 2, "COMP");
  c.total_of(0, 2) = c.total_of(1, 2) = 1e-9;
  c.total_of(1, 1) = 1e-8;
  c.bound = {5e-10, 1e-10};
  Fit_outcome outcome;
  outcome.fitted = {{{4.5e-10, 1.2e-10}, {}, {}}};
  Fit_parameters params;
  params.n_curves = 1;
  testing::Dialogue d("");
  print_detailed_results(d.console(), curves, params, outcome);
  EXPECT_TRUE(d.has_line("CURVE: COMP"));
  EXPECT_TRUE(
      d.has_line("     # LOG(TOTAL)      B/T     B/T-PRED      DIFF         RESIDUAL PLOT"));
  // The bar stands in column 20 of the plot, which follows one blank.
  EXPECT_TRUE(d.has_line("     1    -14.000     0.5000     0.4500     0.0500 " +
                         std::string(19, ' ') + "|    *"));
  EXPECT_TRUE(d.has_line("     2     -8.000     0.1000     0.1200    -0.0200 " +
                         std::string(17, ' ') + "* |"));
}

TEST(OutputSummary, WritesEveryKindOfParameterLine) {
  Fit_parameters p =
      listed_parameters({{"K11", 1e9}, {"R1", 1e-10}, {"N1", 0.0}, {"C1", 1.0}}, {3});
  p.n_points = 20;
  Fit_outcome opt;
  opt.se = {1e8, 2e-9, 1e-4};
  opt.ss = 17.0;
  opt.has_intervals = true;
  opt.ci_lower = {8e8, 0.0, -2e-4};
  opt.ci_upper = {1.2e9, 5e-9, 2e-4};
  const std::string expected =
      "\n =========================================\n"
      "      FINAL PARAMETER ESTIMATES\n"
      " =========================================\n\n"
      "K11        =   1.000000E+09 +/-   1.000E+08 (  10.00 %)\n"
      "          (Kd =   1.000000E-09 +/-   1.000E-10 [M])\n"
      "          (95% CI =   8.000000E+08 to   1.200000E+09)\n"
      "          (only K11/(1 + C*N1) is determined by these data)\n"
      "R1         =   1.000000E-10 +/-   2.000E-09 (>999 %)\n"
      "          (95% CI =   0.000000E+00 to   5.000000E-09)\n"
      "N1         =   0.000000E+00 +/-   1.000E-04 (   0.00 %)\n"
      "          (95% CI =  -2.000000E-04 to   2.000000E-04)\n"
      "C1         =   1.000000E+00 (FIXED)\n\n"
      "SUM OF SQUARED RESIDUALS (SSQ) =   1.700000E+01\n"
      // MSE = 17/(20 - 3); AIC = 20 ln(17/20) + 2·3.
      "RESIDUAL VARIANCE (MSE) =   1.000000E+00\n"
      "AKAIKE INFORMATION CRITERION (AIC) =   2.749621E+00\n"
      "DEGREES OF FREEDOM =   17\n\n";
  // As if ligand 1 were never labelled: only K11/(1 + C*N1) is determined.
  EXPECT_EQ(summary(p, opt, {Ratio_only{1, 2, {0}}}), expected);
  // R1's standard error exceeds its value; N1's is 1e-4 on a value of 0.
  testing::Dialogue d("");
  print_poorly_determined(d.console(), p, opt);
  EXPECT_EQ(d.lines(), (std::vector<std::string>{" R1 is poorly determined by these data",
                                                 " N1 is poorly determined by these data"}));
}

TEST(OutputSummary, WithoutDegreesOfFreedomShowsNoInfinityOrNaN) {
  // N = P = 2: no variance; AIC = 2 ln(SS/2) + 4 needs SS > 0.
  for (const auto& [ss, aic] : {std::pair{0.0, "           N/A"}, {2.5, "  4.446287E+00"}}) {
    Fit_parameters p = listed_parameters({{"K11", 1e9}, {"R1", 1e-10}});
    p.n_points = 2;
    Fit_outcome opt;
    opt.se = {std::nan(""), 0.0};  // no spread to bootstrap from
    opt.ss = ss;
    const std::string text = summary(p, opt);
    // A standard error that is not a number leaves the value alone.
    EXPECT_NE(text.find("K11        =   1.000000E+09\n          (Kd ="), text.npos);
    EXPECT_NE(text.find(std::string("RESIDUAL VARIANCE (MSE) =            N/A\n"
                                    "AKAIKE INFORMATION CRITERION (AIC) = ") +
                        aic + "\nDEGREES OF FREEDOM =    0\n"),
              text.npos)
        << text;
    for (const char* bad : {"NaN", "Inf", "95% CI"}) EXPECT_EQ(text.find(bad), text.npos) << bad;
  }
}

TEST(OutputSummary, AnExactFitGivesTheValuesAndAWarning) {
  Fit_parameters p = listed_parameters({{"K11", 1e9}, {"R1", 1e-10}});
  p.n_points = 5;
  Fit_outcome opt;
  opt.has_intervals = true;
  opt.se = {1e8, 1e-11};  // a wide error, or a zero-width one: neither is shown
  opt.determinacy = Determinacy::exact_fit;
  EXPECT_NE(summary(p, opt).find("K11        =   1.000000E+09\n"
                                 "          (Kd =   1.000000E-09 [M])\n"
                                 "R1         =   1.000000E-10\n"
                                 "WARNING: The data do not determine the fitted parameters (the "
                                 "fit passes through every point exactly).\n\nSUM OF"),
            std::string::npos)
      << summary(p, opt);
}

TEST(OutputSummary, NotesStandardErrorsAboveTheWidthOfTheirInterval) {
  Fit_parameters p = listed_parameters({{"K11", 1e9}, {"R1", 1e-10}, {"N1", 1.3e-4}});
  p.n_points = 12;
  Fit_outcome opt;
  opt.ss = 1.0;
  opt.ci_lower = {8e8, 0.0, 0.0};
  opt.ci_upper = {1.2e9, 5e-9, 2.8e-4};
  opt.se = {4e8, 6e-9, 2.9e-4};  // K11's equals the width of its interval: not named
  const std::string note =
      " NOTE: The bootstrap replicates of R1 and N1 include outliers (SE above the width of the "
      "95% interval);\n the 95% interval is the better guide to the uncertainty.\n";
  for (const bool intervals : {true, false}) {
    opt.has_intervals = intervals;
    const std::string text = summary(p, opt);
    // Under the last interval line, before the goodness-of-fit figures.
    const std::string expected = intervals ? "2.800000E-04)\n" + note + "\nSUM OF" : note;
    EXPECT_EQ(text.find(expected) != text.npos, intervals) << text;
  }
  opt.se[0] = 4.1e8;
  EXPECT_EQ(wide_error_note(p, opt.se, opt.ci_lower, opt.ci_upper)
                .front()
                .rfind("NOTE: The bootstrap replicates of K11, R1 and N1 include", 0),
            0u);
}

TEST(BoundWarnings, VariableParametersWithinARelative1e6OfABoundOrAnAbsolute1e12OfZero) {
  struct Slot {
    const char* name;
    double value;
    bool constant;
    bool warned;
  };
  const Slot slots[] = {{"K11", 1e14, false, true},
                        {"C1", 10.0, true, false},
                        {"N1", 0.0, false, true},
                        {"N2", 1.31e-10, false, false},
                        {"N3", 5e-13, false, true},
                        {"K12", 1e5 * (1 + 5e-7), false, true},
                        {"K21", 1e5 * (1 + 5e-6), false, false},
                        {"K22", 1e14 * (1 - 5e-7), false, true},
                        {"N4", 0.5 * (1 - 5e-6), false, false}};
  Fit_parameters p;
  std::vector<std::string> warned;
  for (const Slot& s : slots) {
    p.name[p.n_params] = s.name, p.value[p.n_params] = s.value;
    p.is_constant[p.n_params++] = s.constant;
    if (s.warned) warned.push_back(std::string("WARNING: ") + s.name + " = ");
  }
  testing::Dialogue d("");
  print_bound_warnings(d.console(), p);
  const auto lines = d.lines();
  ASSERT_EQ(lines.size(), warned.size()) << d.transcript();
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].rfind(warned[i], 0), 0u) << lines[i];
  EXPECT_EQ(lines[0], "WARNING: K11 =  1.00000E+14 is at its bound; the data do not determine it.");
}

}  // namespace
}  // namespace kelvora
