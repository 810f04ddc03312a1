#include "report/graphics_data.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

#include "support/dialogue.hpp"
#include "support/records.hpp"

namespace kelvora {
namespace {

// Two ligands, one site, K11 constant so that N1 (slot 4) is variable 3. Curve 1:
// ligand 2 displaces 1 nM of labelled ligand 1; curve 2: saturation by ligand 1.
struct Fixture {
  Curve_table curves;
  Fit_parameters params;
  Fit_outcome opt;
  Fit_results results;
  testing::Dialogue dialogue{""};

  Fixture() {
    params = testing::listed_parameters({{"K11", 1e9},
                                         {"K21", 1e8},
                                         {"R1", 1e-10},
                                         {"N1", 0.1},
                                         {"N2", 0.2},
                                         {"C1", 1.0},
                                         {"C2", 1.0},
                                         {"B1", 1.0}},
                                        {0, 6, 7});
    std::tie(params.n_ligands, params.n_sites, params.n_curves, params.n_points) =
        std::tuple{2, 1, 2, 25};
    opt.se = {1e7, 1e-11, 0.01, 0.3, 0.05};
    opt.ss = 0.5;
    Curve_data& comp = curves[0];
    comp.file_name = "COMP";
    std::tie(comp.n_points, comp.varying_ligand, comp.labelled_ligand) = std::tuple{3, 2, 1};
    comp.total = {{1e-9, 0, 0, 0}, {1e-9, 1e-8, 0, 0}, {1e-9, 0, 0, 0}};  // 1 and 3 hold none
    comp.bound = {5e-10, 2e-10, 4e-10};
    opt.fitted.resize(2);
    opt.fitted[0].predicted = {4e-10, 2.5e-10, 3e-10};
    Curve_data& sat = curves[1];
    sat.file_name = "SAT";
    std::tie(sat.n_points, sat.varying_ligand, sat.labelled_ligand) = std::tuple{2, 1, 1};
    sat.total = {{1e-8, 0, 0, 0}, {1e-8, 0, 0, 0}};
    sat.bound = {2e-9, 5e-10};  // the second has less bound than 0.1 of free
    opt.fitted[1].predicted = {2.2e-9, 6e-10};
    opt.fitted[1].weight = {1e20, 1e20};  // sigma = 1e-10
  }
  std::string scatchard() {
    std::ostringstream out;
    save_graphics_data_cl(dialogue.console(), out, curves, params, opt, results);
    return out.str();
  }
};

TEST(PlotData, CompetitionBlockAndPlottedPointsWithoutCompetitor) {
  Fixture f;
  f.params.n_curves = 1;
  std::ostringstream out;
  plot_graphics_data(out, f.curves, f.params, f.opt, f.results);
  EXPECT_EQ(out.str(),
            "\nCOMP, FIT NO.    1\nHOT (varying), HOT (labeled):\n   2   1\n"
            "Data points:      3\nNumber of receptor sites:  1\n\n"
            "  Log(Total)(M)         B/T_obs         B/T_pred         \n"
            " -1.40000000E+01   5.00000000E-01   4.00000000E-01 \n"
            " -8.00000000E+00   2.00000000E-01   2.50000000E-01 \n"
            " -1.40000000E+01   0.00000000E+00   0.00000000E+00 \n");
  EXPECT_EQ(make_curve_plot(f.curves, 0, f.params, f.opt).log_total,
            (std::vector<double>{-14, -8}));
}

TEST(PlotData, EachCurveIsPlottedAfterItsBlockWithItsLegend) {
  Fixture f;
  f.curves[0].file_name = "A_COMPETITION_CURVE_NAME_";  // 25 characters
  std::ostringstream out;
  std::vector<std::pair<int, Curve_plot>> shown;
  plot_graphics_data(out, f.curves, f.params, f.opt, f.results, [&](int c, const Curve_plot& plot) {
    // The curve's block is complete when its plot is shown.
    EXPECT_NE(out.str().find(c == 0 ? "-8.0" : "SAT, FIT"), std::string::npos);
    shown.emplace_back(c, plot);
  });
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].second.legend[0], "A_COMPETITION_CURVE_NAME_: Com");
  EXPECT_EQ(shown[1].second.legend[0], "SAT: Saturation" + std::string(15, ' '));
  EXPECT_EQ(shown[1].second.legend[1], "SSQR =  5.0000E-01" + std::string(12, ' '));
  // One site: Kd1 = 1 / K11.
  EXPECT_EQ(shown[1].second.legend[2], "Kd1 [M] =  1.0000E-09" + std::string(9, ' '));
  EXPECT_EQ(shown[1].second.legend[4], std::string(30, ' '));

  // Two sites: AIC = N ln(SSQ / N) + 2P = 25 ln(0.02) + 10.
  f.params.n_sites = 2;
  EXPECT_EQ(make_curve_plot(f.curves, 1, f.params, f.opt).legend[2],
            "AIC = -8.7801E+01" + std::string(13, ' '));
  f.opt.ss = -1.0;
  EXPECT_EQ(make_curve_plot(f.curves, 1, f.params, f.opt).legend[2],
            "AIC = N/A" + std::string(21, ' '));
}

TEST(ScatchardData, SaturationBlockByHand) {
  Fixture f;
  f.params.n_points = f.params.n_var + 2;
  // First point: T = 1e-8, B = 2e-9, F = 8e-9, NS = C2 N1 = 0.1, S = 1.2e-9,
  // B/F = 0.15; Var(B/F) = sigma^2 T^2/F^4 + sNS^2 = 2.44140625e-4 + 1e-4:
  // 0.15 -+ 4.30265 sqrt(3.44140625e-4) with two degrees of freedom.
  EXPECT_EQ(f.scatchard(),
            "\n" + std::string(39, '=') + "\nSATURATION ASSAY ANALYSIS\nSAT, CURVE NO.    1\n" +
                std::string(39, '=') + "\n\nHOT (varying), HOT (labeled):\n   1   1\n" +
                "Data points:      2\nNumber of receptor sites:  1\nSSQ Residuals:  5.00000E-01\n"
                "Residual Variance (MSE) =  2.50000E-01\nt-value for 95% CI:  4.303\n\n"
                "  Total_Ligand(M)   Bound_Ligand(M)   Bound_Spec(M)     Bound_pred(M)     "
                "Bound_Sp_pred(M)  B_Spec/F_obs      B_Spec/F_pred     95%_B/F_Lower_CL  "
                "95%_B/F_Upper_CL  NonSpec_x_Free    \n"
                "  1.00000000E-08    2.00000000E-09    1.20000000E-09    2.20000000E-09    "
                "1.42000000E-09    1.50000000E-01    1.82051282E-01    7.01813705E-02    "
                "2.29818630E-01    8.00000000E-10  \n"
                "  n/a  (negative specific binding, NS may be overestimated)\n");
  EXPECT_EQ(f.results.n_blocks, 1);
}

TEST(ScatchardData, LimitsOfALigand2CurveByTheDeltaMethod) {
  // Ligand 2 on a curve with C2 = 1.5: NS = C N2 = 0.3, sNS = C se(N2) =
  // 0.03; T = 1e-8, sigma = 1e-10. B/F = Bo/Fo - NS, and Var(B/F) = sigma^2
  // T^2 / Fo^4 + sNS^2, solved beforehand for three points; the second has
  // So = Fo, the third a lower limit below 0, shown as 0.
  Fixture f;
  f.params.n_points = f.params.n_var + 2;
  f.params.value[6] = 1.5;  // C2
  f.opt.se[3] = 0.02;       // N2
  Curve_data& sat = f.curves[1];
  sat.varying_ligand = sat.labelled_ligand = 2;
  sat.n_points = 3;
  sat.total.assign(3, {0.0, 1e-8, 0.0, 0.0});
  sat.bound = f.opt.fitted[1].predicted = {5e-9, 1.3e-8 / 2.3, 2.5e-9};
  f.opt.fitted[1].weight.assign(3, 1e20);
  const double expected[3][3] = {{0.7, 4.8486736350e-01, 9.1513263650e-01},
                                 {1.0, 7.3833609244e-01, 1.2616639076e+00},
                                 {1.0 / 30, 0.0, 1.8337500741e-01}};
  const std::string text = f.scatchard();
  auto at = text.find("\n  1.00000000E-08");
  for (int row = 0; row < 3; ++row, at = text.find("\n  1.00000000E-08", at + 1)) {
    ASSERT_NE(at, text.npos) << text;
    double got[3];
    ASSERT_EQ(std::sscanf(text.c_str() + at, "%*g %*g %*g %*g %*g %lg %*g %lg %lg", &got[0],
                          &got[1], &got[2]),
              3);
    for (int m = 0; m < 3; ++m) EXPECT_NEAR(got[m], expected[row][m], 1e-8) << row << " " << m;
  }
  EXPECT_EQ(at, text.npos) << text;
}

}  // namespace
}  // namespace kelvora
