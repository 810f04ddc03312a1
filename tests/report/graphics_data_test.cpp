#include "report/graphics_data.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// The 97.5 % point of Student's t with 2 degrees of freedom, in closed form:
// t = (2p - 1) sqrt(2 / (4p(1 - p))).
const double t_2df = 0.95 * std::sqrt(2.0 / 0.0975);

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

TEST(ScatchardData, LimitsByTheDeltaMethod) {
  // B/F as a function of the measured bound and NS, differentiated by central
  // differences: Var(B/F) = sigma^2 (d(B/F)/dBo)^2 + sNS^2 (d(B/F)/dNS)^2.
  struct Case {
    int ligand;
    double c, ns, s_ns;  // the curve's C, and NS = C N(h), sNS = C se(N(h))
    std::vector<double> bound;
    int clamped;  // rows whose lower limit falls below 0
  };
  const double total = 1e-8, sigma = 1e-10;
  // Each case holds a point whose specific bound equals its free: So = Fo, i.e.
  // Bo = (1 + NS) T / (2 + NS).
  const Case cases[] = {{1, 1.0, 0.1, 0.01, {2e-9, 1.1 * total / 2.1}, 0},
                        {2, 1.5, 1.5 * 0.2, 1.5 * 0.02, {5e-9, 1.3 * total / 2.3, 2.5e-9}, 1}};
  for (const Case& k : cases) {
    Fixture f;
    f.params.n_points = f.params.n_var + 2;
    f.params.value[6] = k.c;  // C2
    f.opt.se[3] = 0.02;       // N2
    Curve_data& sat = f.curves[1];
    sat.varying_ligand = sat.labelled_ligand = k.ligand;
    sat.n_points = static_cast<int>(k.bound.size());
    sat.total.assign(sat.n_points, {});
    for (auto& row : sat.total) row[k.ligand - 1] = total;
    sat.bound = f.opt.fitted[1].predicted = k.bound;
    f.opt.fitted[1].weight.assign(sat.n_points, 1.0 / (sigma * sigma));
    const std::string text = f.scatchard();

    auto ratio = [&](double b, double ns) { return (b - ns * (total - b)) / (total - b); };
    int rows = 0, clamped = 0;
    for (auto at = text.find("\n  1.00000000E-08"); at != text.npos;
         at = text.find("\n  1.00000000E-08", at + 1), ++rows) {
      ASSERT_LT(rows, sat.n_points);
      const double b = k.bound[rows];
      double bf = 0, lower = 0, upper = 0;
      ASSERT_EQ(std::sscanf(text.c_str() + at, "%*g %*g %*g %*g %*g %lg %*g %lg %lg", &bf, &lower,
                            &upper),
                3);
      const double hb = 1e-6 * b, hn = 1e-6;
      const double d_b = (ratio(b + hb, k.ns) - ratio(b - hb, k.ns)) / (2 * hb);
      const double d_ns = (ratio(b, k.ns + hn) - ratio(b, k.ns - hn)) / (2 * hn);
      const double half = t_2df * std::hypot(sigma * d_b, k.s_ns * d_ns);
      EXPECT_NEAR(bf, ratio(b, k.ns), 1e-8);
      EXPECT_NEAR(lower, std::max(0.0, bf - half), 1e-8) << k.ligand << ": " << b;
      EXPECT_NEAR(upper, bf + half, 1e-8) << k.ligand << ": " << b;
      clamped += bf - half < 0.0;
    }
    EXPECT_EQ(rows, sat.n_points) << text;
    EXPECT_EQ(clamped, k.clamped);
  }
}

}  // namespace
}  // namespace kelvora
