#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "competition/competition_analysis.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"
#include "model/curve_predictions.hpp"
#include "support/records.hpp"

namespace kelvora {
namespace {

using Values = std::vector<double>;

// A heterologous competition: ligand 1 (the competitor) displaces ligand 2,
// labelled at `hot`. Constants per site s: K of the competitor and of the hot
// ligand, and R; C the curve's correction factor, N2 the hot ligand's
// nonspecific ratio.
struct Assay {
  Values k_cold, k_hot, r;
  double n_hot = 0.0;
  double correction = 1.0;
  double hot = 5e-10;
};

// Every expected figure below was solved independently of the program from
// the mass-action equations (B = 1)
//   T_h = F_h (1 + C N_h + sum_s K_hs Q_s),  T_c = F_c (1 + sum_s K_cs Q_s),
//   Q_s = C R_s / (1 + K_hs F_h + K_cs F_c),  specific = F_h sum_s K_hs Q_s,
// nested root searches (Brent's method) in double precision, the IC50 by a
// root search on log T_c.

Fit_parameters parameters(const Assay& a, int n_curves = 1) {
  Fit_parameters p;
  p.n_ligands = 2, p.n_sites = static_cast<int>(a.r.size()), p.n_curves = n_curves;
  for (int s = 1; s <= p.n_sites; ++s) {
    p.value[k_slot(p, 1, s)] = a.k_cold[s - 1];
    p.value[k_slot(p, 2, s)] = a.k_hot[s - 1];
    p.value[r_slot(p, s)] = a.r[s - 1];
    p.value[b_slot(p, s)] = 1.0;
  }
  p.value[n_slot(p, 2)] = a.n_hot;
  for (int c = 1; c <= n_curves; ++c) p.value[c_slot(p, c)] = a.correction;
  return p;
}

// The curve at competitor 0 and 10 pM ... 10 uM in half-decades, predicted by
// the program's model; measured = predicted times (1 + noise[i]), three
// replicates each.
Curve_data competition_curve(const Assay& a, const Fit_parameters& p, const Values& noise = {}) {
  Curve_data c = testing::make_curve(1, 2, 14, "DISPLACE");
  c.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
  const Binding_constants k = binding_constants(p);
  for (int i = 0; i < c.n_points; ++i) {
    c.total[i] = {i == 0 ? 0.0 : std::pow(10.0, -11.0 + 0.5 * (i - 1)), a.hot};
    Point_binding out;
    calculate_binding_unified(c, p, i, k, a.correction, true, out);
    c.bound[i] = out.bound[1] * (1.0 + (noise.empty() ? 0.0 : noise[i]));
    c.replicates[i] = 3.0;
  }
  return c;
}

TEST(CompetitionAnalysis, SpecificBindingOfTheHotLigandGivesTheTrueIc50AndKi) {
  // A third of the hot ligand's binding without competitor is nonspecific (N2
  // set so), with C = 1 and with C = 1.3: the fitted top, the IC50 and the
  // table's percentages of the top at 10 pM ... 10 uM.
  struct Case {
    double correction, n_hot, b0_spec, ic50;
    Values percent;
  };
  const Case cases[] = {{1.0,
                         3.318551512677014e-03,
                         3.311242249841114e-12,
                         1.503863812654443e-08,
                         {99.933498193, 99.790005243, 99.338944445, 97.939061251, 93.761151889,
                          82.618575294, 60.058042718, 32.235205391, 13.079093651, 4.542751361,
                          1.482664950, 0.473669103, 0.150274774}},
                        {1.3,
                         3.314129870348178e-03,
                         4.296065528224135e-12,
                         1.505034712125069e-08,
                         {99.933535100, 99.790121752, 99.339310867, 97.940200089, 93.764560972,
                          82.627656327, 60.075625263, 32.253936048, 13.089820382, 4.547009775,
                          1.484119536, 0.474140708, 0.150425099}}};
  for (const Case& k : cases) {
    const Assay a{{1e8}, {1e9}, {1e-11}, k.n_hot, k.correction};
    const Fit_parameters p = parameters(a);
    const Curve_table table{competition_curve(a, p)};
    Random_generator rng;
    rng.seed_fixed({1, 2, 3, 4});
    const Competition_result r =
        analyse_competition_curve(table, 0, p, predict_curves(table, p)[0], 1, rng, 200);
    const double top = predict_curves(table, p)[0].predicted[0];
    const double ns_share = a.n_hot * k.correction * (a.hot - top) / top;
    EXPECT_NEAR(ns_share, 1.0 / 3.0, 0.01);
    EXPECT_DOUBLE_EQ(r.ns, a.n_hot * k.correction);
    EXPECT_NEAR(r.b0_spec / k.b0_spec, 1.0, 1e-9);
    EXPECT_TRUE(r.ic50_solved);
    EXPECT_NEAR(r.ic50 / k.ic50, 1.0, 1e-7);
    // Cheng-Prusoff with little depletion returns the competitor's Kd.
    EXPECT_NEAR(r.ki / 1e-8, 1.0, 0.01);
    // 50 % between the last two points, the last one closest: still solved.
    Curve_table cut = table;
    cut[0].n_points = 9;  // ... 10 nM (60 %), 31.6 nM (32 %)
    const Competition_result last =
        analyse_competition_curve(cut, 0, p, predict_curves(cut, p)[0], 1, rng, 10);
    EXPECT_TRUE(last.ic50_solved);
    EXPECT_NEAR(last.ic50 / k.ic50, 1.0, 1e-7);
    for (int i = 1; i < table[0].n_points; ++i)
      EXPECT_NEAR(r.rows[i].percent_pred, k.percent[i - 1], 1e-6) << i;
  }
}

TEST(CompetitionAnalysis, NoisyCurveIntervalHoldsTheFittedIc50) {
  // 9 % nonspecific binding at the top and 4 % noise; the true IC50 7.52848 nM.
  const Assay a{{2e8}, {1e9}, {1e-11}, 6.564167827273215e-04, 1.0};
  const Fit_parameters p = parameters(a);
  const Values noise{0.03, -0.05, 0.02, 0.04,  -0.03, 0.01, -0.06,
                     0.05, -0.02, 0.03, -0.04, 0.02,  0.06, -0.01};
  const Curve_table table{competition_curve(a, p, noise)};
  Random_generator rng;
  rng.seed_fixed({7, 7, 7, 7});
  const Competition_result r =
      analyse_competition_curve(table, 0, p, predict_curves(table, p)[0], 1, rng, 1000);
  const double truth = 7.528476402158747e-09;
  EXPECT_NEAR(r.ic50 / truth, 1.0, 1e-7);
  EXPECT_LT(r.ic50_boot.lower, truth);
  EXPECT_GT(r.ic50_boot.upper, truth);
  EXPECT_NEAR(r.ic50_boot.median / truth, 1.0, 0.1);
  EXPECT_LT(r.ic50_boot.upper / r.ic50_boot.lower, 3.0);
  EXPECT_NEAR(r.hill.slope, 1.0, 0.02);  // the Hill line runs through the fitted values
}

TEST(CompetitionAnalysis, LimitsTakeRanksAndZerosOfFailedReplicates) {
  Values ki(1000);  // 1 ... 970 in a scrambled order and 30 replicates without a Ki
  for (int i = 0; i < 1000; ++i) ki[i] = std::max(0, i * 367 % 1000 - 29);
  const Bootstrap_summary s = summarise_replicates(ki);  // ranks 25, 975, 500 and 501:
  EXPECT_TRUE(s.lower == 0.0);
  EXPECT_TRUE(s.upper == 945.0);
  EXPECT_TRUE(s.median == 470.5);
}

TEST(CompetitionAnalysis, TheCallersSeedingDecidesEachCurvesBootstrap) {
  const Assay a{{1e8}, {1e9}, {1e-11}, 0.002, 1.0};
  const Fit_parameters p = parameters(a, 3);
  const Values noise{0.0,   0.02, -0.03, 0.01,  0.04, -0.02, 0.03,
                     -0.04, 0.02, 0.01,  -0.01, 0.03, -0.02, 0.01};
  Curve_table table{competition_curve(a, p, noise), competition_curve(a, p),
                    competition_curve(a, p, noise)};
  table[1].varying_ligand = 2;  // a saturation curve: no block, no fit number
  // The two blocks' text, each curve's generator seeded with seed(c).
  auto blocks = [&](auto seed) {
    Random_generator rng;
    Fit_results results;
    std::vector<int> seeded;
    std::ostringstream out;
    competition_ic50_analysis_bootstrap(out, table, p, predict_curves(table, p), results, rng,
                                        [&](Random_generator& g, int c) {
                                          seeded.push_back(c);
                                          g.seed_fixed(seed(c));
                                        });
    EXPECT_EQ(results.n_blocks, 2);
    EXPECT_EQ(seeded, (std::vector<int>{0, 2}));
    const std::string text = out.str();
    const auto second = text.find("FIT NO.    2");
    EXPECT_NE(second, text.npos);
    return std::pair{text.substr(0, second), text.substr(second)};
  };
  const auto by_curve = [](int c) { return Random_generator::Seed{7u + c, 1, 2, 3}; };
  const auto [first, third] = blocks(by_curve);
  const auto interval = [](const std::string& block) {
    return block.substr(block.find("95% CI"), 60);
  };
  // Curves 1 and 3 hold the same points: seeded alike they give the same
  // interval, seeded apart different ones.
  EXPECT_NE(interval(first), interval(third));
  const auto [one, other] = blocks([](int) { return Random_generator::Seed{7, 1, 2, 3}; });
  EXPECT_EQ(interval(one), interval(other));
  EXPECT_EQ(interval(one), interval(first));
  // What curve 1's bootstrap draws leaves curve 3's untouched.
  table[0].bound[5] *= 1.1;
  const auto [changed, unchanged] = blocks(by_curve);
  EXPECT_NE(changed, first);
  EXPECT_EQ(unchanged, third);
}

// Fails unless every line of `lines` is a whole line of `text`, in order.
void expect_lines_in_order(const std::string& text, const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (const std::string& line : lines) {
    const auto found = text.find('\n' + line + '\n', at);
    ASSERT_NE(found, text.npos) << "missing or out of order: \"" << line << "\"\n" << text;
    at = found + line.size();
  }
}

TEST(CompetitionReport, BlockStatesTheFiguresOfTheAnalysisInOrder) {
  // One site; Kd(hot) 1 nM at [Hot] 0.5 nM, Kd(cold) 10 nM, N2 = 0.01. The
  // figures were solved independently of the program (mass action, Brent's
  // method): IC50 = 1.50056e-8 M, so that Ki = IC50 / (1 + 0.5) = 1.00037e-8 M.
  const Assay a{{1e8}, {1e9}, {1e-11}, 0.01, 1.0};
  const Fit_parameters p = parameters(a);
  const Curve_table table{competition_curve(a, p)};
  Random_generator rng;
  Competition_result r =
      analyse_competition_curve(table, 0, p, predict_curves(table, p)[0], 1, rng, 100);
  std::ostringstream out;
  write_competition_block(out, r);
  const std::string text = out.str();
  expect_lines_in_order(
      text,
      {std::string(80, '='), "COMPETITION DISPLACEMENT ANALYSIS - FIT NO.    1", "DISPLACE",
       "Hot ligand (labeled, fixed):       2", "Cold ligand (competitor, varying): 1",
       "NS constant:                   1.00000E-02", "Data points:     14",
       "Number of receptor sites:  1", "Bootstrap iterations:    100", "INHIBITION CURVE DATA:",
       "HILL SLOPE ANALYSIS:", "Fitted from  21 points (20-80% binding range)",
       "Interpretation: Hill slope \x98 1.0 indicates simple",
       "BOOTSTRAP ANALYSIS:", "Completed:    100 /    100 successful",
       "IC50 ANALYSIS:", "IC50 (interpolated):  1.50056E-08 M", "log(IC50):           -7.82375E+00",
       // Noise-free: every replicate gives the fitted curve's IC50.
       "IC50 (bootstrap median):  1.50056E-08 M",
       "95% CI (bootstrap):   1.50056E-08 to  1.50056E-08 M", "CI Ratio:              1.00x",
       "Method:              Solved on the fitted model curve", "Ki CALCULATION (CHENG-PRUSOFF):",
       "  IC50:                 1.50056E-08 M", "  [Hot]:                5.00000E-10 M",
       "  Kd(hot):              1.00000E-09 M", "  Ki (calculated):      1.00037E-08 M",
       "  log(Ki):             -7.99984E+00", "  Ki (bootstrap median): 1.00037E-08 M",
       "COMPARISON TO FITTED Kd:", "  Ki (Cheng-Prusoff):   1.00037E-08 M",
       "  Kd (from fit):        1.00000E-08 M", std::string(80, '=')});
  EXPECT_EQ(text.find("AFFINITY OF THE COMPETITOR"), text.npos);
  // The row at 10 nM competitor: bound 6.90906e-12 M, of which 1.97815e-12 M
  // specific, 60.0053 % of the top; its error 6.90906e-12 sqrt(0.001 / 3).
  double row[11];
  const auto at = text.find("\n  1.00000000E-08");
  ASSERT_NE(at, text.npos);
  ASSERT_EQ(std::sscanf(text.c_str() + at, "%lg %lg %lg %lg %lg %lg %lg %lg %lg %lg %lg", &row[0],
                        &row[1], &row[2], &row[3], &row[4], &row[5], &row[6], &row[7], &row[8],
                        &row[9], &row[10]),
            11);
  const double expected[11] = {1e-8,    -8.0,    6.90906e-12, 1.97815e-12, 6.90906e-12, 1.97815e-12,
                               60.0053, 60.0053, 39.9947,     39.9947,     1.26142e-13};
  for (int i = 0; i < 11; ++i) EXPECT_NEAR(row[i] / expected[i], 1.0, 1e-5) << "column " << i;
  // The Hill line: its slope about 1, with the plus-minus and squared signs.
  const auto hill = text.find("\nHill slope:  ");
  ASSERT_NE(hill, text.npos);
  EXPECT_NEAR(std::atof(text.c_str() + hill + 14), 1.0, 0.02);
  EXPECT_EQ(text.compare(hill + 21, 3, " \xB1 "), 0);
  EXPECT_NE(text.find("\nR\xB2:          "), text.npos);

  r.hill = Hill_fit{};  // fewer than three points in the Hill range
  out.str("");
  write_competition_block(out, r);
  EXPECT_NE(out.str().find("-\nWARNING: Insufficient data for Hill slope\n\nB"), std::string::npos);
  // An exact fit: the warning under the heading, and no bootstrap figures.
  r.determinacy = Determinacy::exact_fit;
  out.str("");
  write_competition_block(out, r);
  const std::string exact = out.str();
  EXPECT_NE(exact.find("   100\nWARNING: The data do not determine the fitted parameters (the fit "
                       "passes through every point exactly).\n\nINHIBITION"),
            exact.npos);
  for (const char* gone : {"(bootstrap", "CI Ratio"})
    EXPECT_EQ(exact.find(gone), exact.npos) << gone;
  EXPECT_NE(exact.find("  Ki (calculated):      1.00037E-08 M\n  log(Ki):"), exact.npos);
}

TEST(CompetitionReport, TwoSitesGiveTheCompetitorsAffinityAtEachSite) {
  // The hot ligand labels both sites; the competitor prefers site 2 by 100.
  // At point 1 the sites carry 55.6353 % and 44.3647 % of the hot ligand's
  // specific binding (solved independently). Capacity-weighted Kd: of the
  // hot ligand (0.5 nM x 6 + 2 nM x 12) / 18 = 1.5 nM, so Ki = IC50 / (1 +
  // 0.5 / 1.5) = 0.75 IC50; of the competitor (100 x 6 + 1 x 12) / 18 = 34 nM.
  const Assay a{{1e7, 1e9}, {2e9, 5e8}, {6e-12, 1.2e-11}, 0.0, 1.0};
  const Fit_parameters p = parameters(a);
  const Curve_table table{competition_curve(a, p)};
  Random_generator rng;
  const Competition_result r =
      analyse_competition_curve(table, 0, p, predict_curves(table, p)[0], 1, rng, 20);
  ASSERT_EQ(r.sites.size(), 2u);
  EXPECT_NEAR(r.sites[0].hot_share, 55.63529525, 1e-6);
  EXPECT_NEAR(r.sites[1].hot_share, 44.36470475, 1e-6);
  EXPECT_NEAR(r.ki / r.ic50, 0.75, 1e-12);
  std::ostringstream out;
  write_competition_block(out, r);
  expect_lines_in_order(
      out.str(),
      {"Number of receptor sites:  2", "  Kd apparent (weighted):  3.40000E-08 M",
       "AFFINITY OF THE COMPETITOR AT EACH SITE:",
       "  Site 1:  Kd(cold) =  1.00000E-07 M   ( 55.6 % of the hot specific binding at point 1)",
       "  Site 2:  Kd(cold) =  1.00000E-09 M   ( 44.4 % of the hot specific binding at point 1)"});
}

}  // namespace
}  // namespace kelvora
