#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>

#include "competition/competition_analysis.hpp"
#include "data/parameter_layout.hpp"
#include "model/binding_model.hpp"
#include "model/curve_predictions.hpp"

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

// An independent solution of the mass-action equations (long double, nested
// bisection; B = 1), for the specific binding of the hot ligand at competitor
// total x:
//   T_h = F_h (1 + C N_h + sum_s K_hs Q_s),  T_c = F_c (1 + sum_s K_cs Q_s),
//   Q_s = C R_s / (1 + K_hs F_h + K_cs F_c),  specific = F_h sum_s K_hs Q_s.
struct Reference {
  const Assay& a;
  long double q(int s, long double fh, long double fc) const {
    return a.correction * a.r[s] / (1.0L + a.k_hot[s] * fh + a.k_cold[s] * fc);
  }
  long double occupancy(const Values& k, long double fh, long double fc) const {
    long double sum = 0.0L;
    for (std::size_t s = 0; s < a.r.size(); ++s) sum += k[s] * q(s, fh, fc);
    return sum;
  }
  long double free_hot(long double fc) const {
    long double lo = 0.0L, hi = a.hot;
    for (int i = 0; i < 200; ++i) {
      const long double f = 0.5L * (lo + hi);
      const long double g = a.hot - f * (1.0L + a.correction * a.n_hot + occupancy(a.k_hot, f, fc));
      (g > 0.0L ? lo : hi) = f;
    }
    return 0.5L * (lo + hi);
  }
  // Returns the specific binding at total competitor x; site_bound[s] too.
  long double specific(double x, Values* site_bound = nullptr) const {
    long double lo = 0.0L, hi = x;
    for (int i = 0; i < 200 && x > 0.0; ++i) {
      const long double f = 0.5L * (lo + hi);
      const long double g = x - f * (1.0L + occupancy(a.k_cold, free_hot(f), f));
      (g > 0.0L ? lo : hi) = f;
    }
    const long double fc = 0.5L * (lo + hi), fh = free_hot(fc);
    if (site_bound) {
      site_bound->clear();
      for (std::size_t s = 0; s < a.r.size(); ++s)
        site_bound->push_back(static_cast<double>(fh * a.k_hot[s] * q(s, fh, fc)));
    }
    return fh * occupancy(a.k_hot, fh, fc);
  }
  // The competitor total that halves the specific binding, by bisection in log x.
  double ic50() const {
    const long double half = 0.5L * specific(0.0);
    long double lo = std::log(1e-14L), hi = std::log(1e-2L);
    for (int i = 0; i < 100; ++i) {
      const long double mid = 0.5L * (lo + hi);
      (specific(static_cast<double>(std::exp(mid))) > half ? lo : hi) = mid;
    }
    return static_cast<double>(std::exp(0.5L * (lo + hi)));
  }
};

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
// the program's model; measured = predicted times (1 + noise[i]).
Curve_data competition_curve(const Assay& a, const Fit_parameters& p, const Values& noise = {}) {
  Curve_data c;
  allocate_curve_data(c);
  c.file_name = "DISPLACE", c.varying_ligand = 1, c.labelled_ligand = 2;
  c.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
  c.n_points = 14;
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
  // A third of the hot ligand's binding without competitor is nonspecific.
  // With C = 1.3 the hot ligand sees 1.3 N2.
  for (const double correction : {1.0, 1.3}) {
    Assay a{{1e8}, {1e9}, {1e-11}, 0.0, correction};
    const Reference ref{a};
    a.n_hot = static_cast<double>(ref.specific(0.0) / 2.0 / (a.hot * correction));
    const Fit_parameters p = parameters(a);
    const Curve_table table{competition_curve(a, p)};
    const Curve_prediction fit = predict_curves(table, p)[0];
    Random_generator rng;
    rng.seed_fixed({1, 2, 3, 4});
    const Competition_result r = analyse_competition_curve(table, 0, p, fit, 1, rng, 200);
    const double ns_share = a.n_hot * correction * (a.hot - fit.predicted[0]) / fit.predicted[0];
    EXPECT_NEAR(ns_share, 1.0 / 3.0, 0.01);
    EXPECT_DOUBLE_EQ(r.ns, a.n_hot * correction);
    EXPECT_NEAR(r.b0_spec / static_cast<double>(ref.specific(0.0)), 1.0, 1e-9);
    EXPECT_TRUE(r.ic50_solved);
    EXPECT_NEAR(r.ic50 / ref.ic50(), 1.0, 1e-7);
    // Cheng-Prusoff with little depletion returns the competitor's Kd.
    EXPECT_NEAR(r.ki / 1e-8, 1.0, 0.01);
    EXPECT_NEAR(r.hill.slope, 1.0, 0.02);
    EXPECT_EQ(r.hill.n_points, 21);  // sampled on the fitted curve, 80 % to 20 %
    // Noise-free: every replicate reproduces the fitted curve's IC50.
    EXPECT_NEAR(r.ic50_boot.lower / r.ic50, 1.0, 1e-12);
    EXPECT_NEAR(r.ic50_boot.upper / r.ic50, 1.0, 1e-12);
    // 50 % between the last two points, the last one closest: still solved.
    Curve_table cut = table;
    cut[0].n_points = 9;  // ... 10 nM (67 %), 31.6 nM (39 %)
    const Competition_result last = analyse_competition_curve(cut, 0, p, fit, 1, rng, 10);
    EXPECT_TRUE(last.ic50_solved);
    EXPECT_NEAR(last.ic50 / ref.ic50(), 1.0, 1e-7);
    // The table shows percentages of the fitted top.
    for (int i = 1; i < table[0].n_points; ++i) {
      const double specific = static_cast<double>(ref.specific(table[0].total_of(i, 1)));
      EXPECT_NEAR(r.rows[i].percent_pred, 100.0 * specific / r.b0_spec, 1e-6);
    }
  }
}

TEST(CompetitionAnalysis, NoisyCurveIntervalHoldsTheFittedIc50) {
  // 9 % nonspecific binding at the top and 4 % noise.
  Assay a{{2e8}, {1e9}, {1e-11}, 0.0, 1.0};
  const Reference ref{a};
  a.n_hot = static_cast<double>(0.09 / 0.91 * ref.specific(0.0) / a.hot);
  const Fit_parameters p = parameters(a);
  const Values noise{0.03, -0.05, 0.02, 0.04,  -0.03, 0.01, -0.06,
                     0.05, -0.02, 0.03, -0.04, 0.02,  0.06, -0.01};
  const Curve_table table{competition_curve(a, p, noise)};
  const Curve_prediction fit = predict_curves(table, p)[0];
  Random_generator rng;
  rng.seed_fixed({7, 7, 7, 7});
  const Competition_result r = analyse_competition_curve(table, 0, p, fit, 1, rng, 1000);
  const double truth = ref.ic50();
  EXPECT_NEAR(r.ic50 / truth, 1.0, 1e-7);
  EXPECT_LT(r.ic50_boot.lower, truth);
  EXPECT_GT(r.ic50_boot.upper, truth);
  EXPECT_NEAR(r.ic50_boot.median / truth, 1.0, 0.1);
  EXPECT_LT(r.ic50_boot.upper / r.ic50_boot.lower, 3.0);
  EXPECT_NEAR(r.hill.slope, 1.0, 0.02);  // the Hill line runs through the fitted values
}

TEST(CompetitionAnalysis, TwoSitesGiveTheCompetitorsAffinityAtEachSite) {
  // The hot ligand labels both sites; the competitor prefers site 2 by 100.
  const Assay a{{1e7, 1e9}, {2e9, 5e8}, {6e-12, 1.2e-11}, 0.0, 1.0};
  const Fit_parameters p = parameters(a);
  const Curve_table table{competition_curve(a, p)};
  const Curve_prediction fit = predict_curves(table, p)[0];
  Random_generator rng;
  const Competition_result r = analyse_competition_curve(table, 0, p, fit, 1, rng, 20);
  Values site_bound;
  Reference{a}.specific(0.0, &site_bound);
  ASSERT_EQ(r.sites.size(), 2u);
  for (int s = 0; s < 2; ++s) {
    EXPECT_DOUBLE_EQ(r.sites[s].kd_cold, 1.0 / a.k_cold[s]);
    EXPECT_NEAR(r.sites[s].hot_share, 100.0 * site_bound[s] / (site_bound[0] + site_bound[1]),
                1e-6);
  }
  std::ostringstream out;
  write_competition_block(out, r);
  EXPECT_NE(out.str().find("  Site 2:  Kd(cold) =  1.00000E-09 M   ("), std::string::npos);
}

TEST(CompetitionAnalysis, EachCurveHasItsOwnSeededBootstrap) {
  const Assay a{{1e8}, {1e9}, {1e-11}, 0.002, 1.0};
  const Fit_parameters p = parameters(a, 3);
  const Values noise{0.0,   0.02, -0.03, 0.01,  0.04, -0.02, 0.03,
                     -0.04, 0.02, 0.01,  -0.01, 0.03, -0.02, 0.01};
  Curve_table table{competition_curve(a, p, noise), competition_curve(a, p),
                    competition_curve(a, p, noise)};
  table[1].varying_ligand = 2;  // a saturation curve: no block, no fit number
  Random_generator rng, own;
  Fit_results results;
  std::ostringstream out, expected;
  std::vector<int> seeded;  // the curves whose bootstrap was seeded, in order
  const Curve_seeding before_curve = [&seeded](Random_generator& g, int c) {
    seeded.push_back(c);
    g.seed_fixed(competition_curve_seed(c));
  };
  const std::vector<Curve_prediction> fitted = predict_curves(table, p);
  competition_ic50_analysis_bootstrap(out, table, p, fitted, results, rng, before_curve, 300);
  EXPECT_EQ(results.n_blocks, 2);
  EXPECT_EQ(seeded, (std::vector<int>{0, 2}));
  for (const int position : {1, 3}) {  // seeds 13345 and 15345
    const auto word = static_cast<std::uint32_t>(position * 1000 + 12345);
    own.seed_fixed({word, word, word, word});
    write_competition_block(
        expected, analyse_competition_curve(table, position - 1, p, fitted[position - 1],
                                            (position + 1) / 2, own, 300));
  }
  EXPECT_EQ(out.str(), expected.str());
}

TEST(CompetitionAnalysis, LimitsTakeRanksAndZerosOfFailedReplicates) {
  Values ki(1000);  // 1 ... 970 in a scrambled order and 30 replicates without a Ki
  for (int i = 0; i < 1000; ++i) ki[i] = std::max(0, i * 367 % 1000 - 29);
  const Bootstrap_summary s = summarise_replicates(ki);  // ranks 25, 975, 500 and 501:
  EXPECT_TRUE(s.lower == 0.0);
  EXPECT_TRUE(s.upper == 945.0);
  EXPECT_TRUE(s.median == 470.5);
}

TEST(CompetitionReport, WritesTheBlockByteForByte) {
  Competition_result r;
  r.fit_number = 1, r.file_name = "GOLD", r.hot_ligand = 2, r.cold_ligand = 1, r.n_points = 2;
  r.n_sites = 1, r.n_replicates = 1000, r.ns = 0.0, r.hot = 1e-9, r.b0_spec = 3e-10;
  r.kd_hot_app = 2.5e-10, r.kd_cold_first = 5e-10, r.kd_cold_app = 5e-10;
  r.rows = {{0.0, -30.0, 3e-10, 3e-10, 3e-10, 3e-10, 100.0, 100.0, 0.0, 0.0, 0.5},
            {1e-9, -9.0, 1.5e-10, 1.5e-10, 1.5e-10, 1.5e-10, 50.0, 50.0, 50.0, 50.0, 0.5}};
  r.hill = {Hill_status::fitted, 3, 1.0, 0.0, 0.0, 1.0};
  r.ic50 = 1e-9, r.ic50_solved = true, r.n_successful = 1000;
  r.ic50_boot = {1e-9, 1e-9, 1e-9}, r.ki_boot = {2e-10, 2e-10, 2e-10};
  r.ki = 2e-10, r.has_ki = true;
  std::ostringstream out;
  write_competition_block(out, r);
  std::string expected = R"(
================================================================================
COMPETITION DISPLACEMENT ANALYSIS - FIT NO.    1
GOLD
================================================================================

Hot ligand (labeled, fixed):       2
Cold ligand (competitor, varying): 1
NS constant:                   0.00000E+00
Data points:      2
Number of receptor sites:  1
Bootstrap iterations:   1000

INHIBITION CURVE DATA:
----------------------
 [Cold]_Total(M)   Log[Cold]         Hot_Bound_Obs(M)  Hot_Spec_Obs(M)   Hot_Bound_Pred(M) Hot_Spec_Pred(M)  %Binding_Obs      %Binding_Pred     %Inhibition_Obs   %Inhibition_Pred  StdErr            
  0.00000000E+00  -3.00000000E+01   3.00000000E-10   3.00000000E-10   3.00000000E-10   3.00000000E-10   1.00000000E+02   1.00000000E+02   0.00000000E+00   0.00000000E+00   5.00000000E-01 
  1.00000000E-09  -9.00000000E+00   1.50000000E-10   1.50000000E-10   1.50000000E-10   1.50000000E-10   5.00000000E+01   5.00000000E+01   5.00000000E+01   5.00000000E+01   5.00000000E-01 

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
Method:              Solved on the fitted model curve

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
  r.hill = Hill_fit{};  // fewer than three points in the Hill range
  out.str("");
  write_competition_block(out, r);
  EXPECT_NE(out.str().find("-\nWARNING: Insufficient data for Hill slope\n\nB"), std::string::npos);
  // An exact fit: the warning under the heading, and no bootstrap figures.
  r.determinacy = Determinacy::exact_fit;
  out.str("");
  write_competition_block(out, r);
  const std::string text = out.str();
  EXPECT_NE(text.find(" 1000\nWARNING: The data do not determine the fitted parameters (the fit "
                      "passes through every point exactly).\n\nINHIBITION"),
            text.npos);
  for (const char* gone : {"(bootstrap", "CI Ratio"}) EXPECT_EQ(text.find(gone), text.npos) << gone;
  EXPECT_NE(text.find("  Ki (calculated):      2.00000E-10 M\n  log(Ki):"), text.npos);
}

}  // namespace
}  // namespace kelvora
