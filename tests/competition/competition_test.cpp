#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "competition/competition_analysis.hpp"
#include "data/parameter_layout.hpp"
#include "util/straight_line.hpp"

namespace kelvora {
namespace {

// Two ligands and one site: ligand 1 competes with ligand 2, labelled at 1 nM.
Fit_parameters one_site(double k_cold, double k_hot, double ns, int n_curves = 1) {
  Fit_parameters p;
  p.n_ligands = 2, p.n_sites = 1, p.n_curves = n_curves;
  p.value[k_slot(p, 1, 1)] = k_cold, p.value[k_slot(p, 2, 1)] = k_hot;
  p.value[r_slot(p, 1)] = 1e-9, p.value[n_slot(p, 1)] = ns;
  return p;
}

using Values = std::vector<double>;
Curve_data curve(const Values& conc, const Values& bound, const Values& predicted, Values weight) {
  Curve_data c;
  allocate_curve_data(c);
  c.file_name = "GOLD", c.varying_ligand = 1, c.labelled_ligand = 2, c.n_points = conc.size();
  for (int i = 0; i < c.n_points; ++i)
    c.total[i] = {conc[i], 1e-9}, c.bound[i] = bound[i], c.predicted[i] = predicted[i],
    c.weight[i] = weight[i];
  return c;
}

// The example competition file fitted with 100 f (1 + wiggle) % specific binding, f a
// Hill curve of slope 0.35 and midpoint 3 nM, under ns = 0.01; weights 1, 2, ..., 7.
const Values ex2_conc{0.0, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5};
const Values ex2_bound{5e-10, 4.76e-10, 3.33e-10, 9.52e-11, 1.23e-11, 1.25e-12, 6.12e-13};
const double ex2_b0 = 5e-10 - 0.01 * (1e-9 - 5e-10);
double ex2_percent(int i) {
  const double wiggle[] = {0.0, 0.0, -0.01, 0.03, 0.02, 0.0, 0.0};
  return 100.0 * (1.0 + wiggle[i]) / (1.0 + std::pow(ex2_conc[i] / 3e-9, 0.35));
}
Curve_data ex2_curve() {
  Values predicted;
  for (int i = 0; i < 7; ++i) predicted.push_back((ex2_b0 * ex2_percent(i) / 100 + 1e-11) / 1.01);
  return curve(ex2_conc, ex2_bound, predicted, {1, 2, 3, 4, 5, 6, 7});
}

TEST(CompetitionAnalysis, ExampleCurvesAfterASaturationCurve) {
  Curve_table table{ex2_curve(), ex2_curve(), ex2_curve()};
  table[1].varying_ligand = 2;  // a saturation curve: no block, no fit number
  const Fit_parameters p = one_site(1e9, 2e9, 0.01, 3);
  Random_generator rng, own;
  Fit_results results;
  std::ostringstream out, expected;
  competition_ic50_analysis_bootstrap(out, table, p, results, rng, 300);
  EXPECT_EQ(results.n_blocks, 2);
  Competition_result r;
  for (const std::uint32_t position : {1, 3}) {  // seeds 13345 and 15345
    const std::uint32_t word = position * 1000 + 12345;
    own.seed_fixed({word, word, word, word});
    r = analyse_competition_curve(table[position - 1], p, (position + 1) / 2, own, 300);
    write_competition_block(expected, r);
  }
  EXPECT_EQ(out.str(), expected.str());
  for (const int i : {2, 5}) {  // at 1 uM the observed specific binding is negative: 0 %
    const double percent_obs =
        std::max(0.0, 100.0 * (ex2_bound[i] - 0.01 * (1e-9 - ex2_bound[i])) / ex2_b0);
    EXPECT_NEAR(r.rows[i].inhibition_obs, 100.0 - percent_obs, 1e-9);
    EXPECT_NEAR(r.rows[i].percent_pred, ex2_percent(i), 1e-9);
  }
  Values x, y;  // points 2-5 lie within 20-80 %; an integer weight w counts as w copies
  for (int i = 1; i <= 4; ++i)
    x.insert(x.end(), i + 1, std::log10(ex2_conc[i])),
        y.insert(y.end(), i + 1, std::log10(ex2_percent(i) / (100 - ex2_percent(i))));
  const Straight_line line = fit_straight_line(x.data(), y.data(), static_cast<int>(x.size()));
  EXPECT_NEAR(r.hill.slope, -line.slope, 1e-9);
  EXPECT_NEAR(r.hill.intercept, line.intercept, 1e-8);
  const double ic50 =  // 50 % lies between 1 and 10 nM: interpolate in log concentration
      1e-9 * std::pow(10.0, (50.0 - ex2_percent(2)) / (ex2_percent(3) - ex2_percent(2)));
  EXPECT_NEAR(r.ic50 / ic50, 1.0, 1e-10);
  EXPECT_TRUE(r.hot == 1e-9 && std::abs(r.kd_hot_app / 5e-10 - 1.0) < 1e-15);
  EXPECT_LT(r.ic50_boot.lower, r.ic50_boot.upper);  // the replicates draw on the seed
  EXPECT_NEAR(r.ki / (ic50 / 3.0), 1.0, 1e-10);     // 1 + [Hot]/Kd_hot = 3
}

TEST(CompetitionAnalysis, LimitsTakeRanksAndZerosOfFailedReplicates) {
  Values ki(1000);  // 1 ... 970 in a scrambled order and 30 replicates without a Ki
  for (int i = 0; i < 1000; ++i) ki[i] = std::max(0, i * 367 % 1000 - 29);
  const Bootstrap_summary s = summarise_replicates(ki);  // ranks 25, 975, 500 and 501:
  EXPECT_TRUE(s.lower == 0.0 && s.upper == 945.0 && s.median == 470.5);
}

TEST(CompetitionReport, WritesTheBlockByteForByte) {
  Values bound{3e-10, 2e-10, 1.5e-10, 1e-10};  // 100, 66.7, 50 and 33.3 %, fitted exactly
  Curve_table table{curve({0.0, 5e-10, 1e-9, 2e-9}, bound, bound, {4, 4, 4, 4})};
  Random_generator rng;
  Fit_results results;
  std::ostringstream out;
  const Fit_parameters p = one_site(2e9, 4e9, 0.0);
  competition_ic50_analysis_bootstrap(out, table, p, results, rng);
  std::string expected = R"(
================================================================================
COMPETITION DISPLACEMENT ANALYSIS - FIT NO.    1
GOLD
================================================================================

Hot ligand (labeled, fixed):       2
Cold ligand (competitor, varying): 1
NS constant:                   0.00000E+00
Data points:      4
Number of receptor sites:  1
Bootstrap iterations:   1000

INHIBITION CURVE DATA:
----------------------
 [Cold]_Total(M)   Log[Cold]         Hot_Bound_Obs(M)  Hot_Spec_Obs(M)   Hot_Bound_Pred(M) Hot_Spec_Pred(M)  %Binding_Obs      %Binding_Pred     %Inhibition_Obs   %Inhibition_Pred  StdErr            
  0.00000000E+00  -3.00000000E+01   3.00000000E-10   3.00000000E-10   3.00000000E-10   3.00000000E-10   1.00000000E+02   1.00000000E+02   0.00000000E+00   0.00000000E+00   5.00000000E-01 
  5.00000000E-10  -9.30103000E+00   2.00000000E-10   2.00000000E-10   2.00000000E-10   2.00000000E-10   6.66666667E+01   6.66666667E+01   3.33333333E+01   3.33333333E+01   5.00000000E-01 
  1.00000000E-09  -9.00000000E+00   1.50000000E-10   1.50000000E-10   1.50000000E-10   1.50000000E-10   5.00000000E+01   5.00000000E+01   5.00000000E+01   5.00000000E+01   5.00000000E-01 
  2.00000000E-09  -8.69897000E+00   1.00000000E-10   1.00000000E-10   1.00000000E-10   1.00000000E-10   3.33333333E+01   3.33333333E+01   6.66666667E+01   6.66666667E+01   5.00000000E-01 

HILL SLOPE ANALYSIS:
--------------------
Fitted from   3 points (20-80% binding range)
Hill slope:    1.000 @  0.000
R^:           1.0000

Interpretation: Hill slope ~ 1.0 indicates simple
                competitive inhibition (no cooperativity)

BOOTSTRAP ANALYSIS:
-------------------
Running   1000 bootstrap iterations...
Completed:   1000 /   1000 successful

IC50 ANALYSIS:
--------------
IC50 (interpolated):  1.00000E-09 M
log(IC50):           -9.00000E+00
IC50 (bootstrap median):  1.00000E-09 M
95% CI (bootstrap):   1.00000E-09 to  1.00000E-09 M
CI Ratio:              1.00x
Method:              Interpolated from fitted curve

Ki CALCULATION (CHENG-PRUSOFF):
-------------------------------
Cheng-Prusoff equation: Ki = IC50 / (1 + [Hot]/Kd_hot)

  IC50:                 1.00000E-09 M
  [Hot]:                1.00000E-09 M
  Kd(hot):              2.50000E-10 M

  Ki (calculated):      2.00000E-10 M
  log(Ki):             -9.69897E+00
  Ki (bootstrap median): 2.00000E-10 M
  95% CI (bootstrap):   2.00000E-10 to  2.00000E-10 M
  CI Ratio:              1.00x

COMPARISON TO FITTED Kd:
------------------------
  Ki (Cheng-Prusoff):   2.00000E-10 M
  Kd (from fit):        5.00000E-10 M

================================================================================

)";
  for (const auto& [mark, byte] : {std::pair{'@', '\xB1'}, {'^', '\xB2'}, {'~', '\x98'}})
    std::replace(expected.begin(), expected.end(), mark, byte);
  EXPECT_EQ(out.str(), expected);
  table[0].bound[3] = table[0].predicted[3] = 0.5e-10;  // 16.7 %: two Hill points left
  const Competition_result r = analyse_competition_curve(table[0], p, 1, rng, 9);
  out.str("");
  write_competition_block(out, r);
  EXPECT_EQ(r.hill.slope, 1.0);
  EXPECT_NE(out.str().find("-\nWARNING: Insufficient data for Hill slope\n\nB"), std::string::npos);
}

}  // namespace
}  // namespace kelvora
