#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "fit/binding_problem.hpp"
#include "fit/levenberg_marquardt.hpp"
#include "model/binding_model.hpp"
#include "model/curve_predictions.hpp"
#include "params/parameter_vector.hpp"
#include "stats/bootstrap_se.hpp"
#include "support/dialogue.hpp"
#include "support/saturation_curves.hpp"
#include "support/scratch_folder.hpp"
#include "util/parallel.hpp"

namespace kelvora {
namespace {

const double inf = INFINITY, nan = NAN;
const std::string bar44(44, '=');
// The program's seeding of a replicate's tunnel move.
const Seeding from_entropy = [](Random_generator& g) { g.seed_from_entropy(); };

// The single-curve engine on 3 points, each refit applying `f` to params.
std::string run_engine(int B, Bootstrap_results& r, std::function<bool(std::vector<double>&)> f) {
  testing::Dialogue d("");
  Random_generator rng;
  const std::vector<double> v = {1.0, 2.0, 3.0};
  auto refit = [&](auto&, auto& p, auto&) { return f(p); };
  calculate_bootstrap_se(d.console(), {v, v, v}, {5.0, 6.0}, B, r, refit, rng, true);
  return d.transcript();
}

TEST(BootstrapEngine, ProgressFailuresStatisticsAndIndices) {
  std::atomic<int> calls = 0;  // the first refit leaves an infinite value, then 6, 5, 6, 5
  auto first_infinite = [&](auto& p) {
    const int k = calls++;
    return p[0] = k == 0 ? inf : 5.0 + k % 2, true;
  };
  Bootstrap_results r;
  EXPECT_EQ(run_engine(5, r, first_infinite),
            bar44 + "\n Bootstrap SE Calculation (5 samples)\n" + bar44 +
                "\n  Completed 1/5 ( 20.0%)\n  Completed 2/5 ( 40.0%)\n  Completed 3/5 ( 60.0%)\n"
                "  Completed 4/5 ( 80.0%)\n  Completed 5/5 (100.0%)\n" +
                bar44 + "\n Converged: 4 / Failed: 1\n" + bar44 + "\n");
  EXPECT_DOUBLE_EQ(r.std_error[0], std::sqrt(1.0 / 3.0));
  calls = 0;  // a NaN value, then refused refits: none converges
  const std::string text = run_engine(100, r, [&](auto& p) { return p[1] = nan, calls++ == 0; });
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 10 + 3);
  EXPECT_NE(text.find("=\n  Completed 10/100 ( 10.0%)\n  Completed 20/100 ( 20.0%)\n"), text.npos);
  EXPECT_NE(text.find("\n Converged: 0 / Failed: 100\n"), text.npos);
  // Statistics skip NaNs; index draws stay in range.
  r.samples = {{1.0, nan, nan}, {nan, 4.5, nan}, {3.0, nan, nan}};
  calculate_bootstrap_statistics(r, 3);
  EXPECT_TRUE(r.median[0] == 2.0);
  EXPECT_TRUE(r.mean[0] == 2.0);
  EXPECT_TRUE(r.std_error[0] == std::sqrt(2.0));
  EXPECT_TRUE(std::abs(r.ci_lower[0] - 1.05) < 1e-15);
  EXPECT_TRUE(std::abs(r.ci_upper[0] - 2.95) < 1e-15);
  for (const double v : {r.mean[1], r.median[1], r.ci_lower[1], r.ci_upper[1]}) EXPECT_EQ(v, 4.5);
  EXPECT_TRUE(std::isnan(r.std_error[1]));
  EXPECT_TRUE(std::isnan(r.mean[2]));
  EXPECT_TRUE(std::isnan(r.median[2]));
  std::vector<int> idx;
  for (const double u : {0.0, std::nextafter(1.0, 0.0), 1.0}) {  // 1: a coarser generator's draw
    generate_bootstrap_indices(1000, idx, [u] { return u; });
    EXPECT_EQ(idx, std::vector<int>(1000, u == 0.0 ? 0 : 999));
  }
}

// One-site saturation curves of 12 points (support/saturation_curves.hpp): the
// model at K11 1e9, R1 1e-10, N1 0.01 with 3 % noise (sd); K11 and R1 fitted.
struct Synthetic {
  explicit Synthetic(int n_curves) {
    p.n_ligands = p.n_sites = 1, p.n_curves = n_curves;
    setup_parameter_names(p);
    p.value[0] = 1e9, p.value[1] = 1e-10, p.value[2] = 0.01, p.is_constant[2] = true;
    std::minstd_rand noise(12345);
    for (int c = 0; c < n_curves; ++c, p.n_points += 12) {
      double error[12];  // uniform on +-3 sqrt(3) %
      for (double& e : error) e = 0.03 * std::sqrt(3) * (noise() / 2147483647.0 * 2.0 - 1.0);
      testing::fill_saturation_curve(curves[c], testing::one_site_constants(1e9, 1e-10, 0.01), 1.0,
                                     error);
    }
    setup_variable_map(p);
    p.accepted = p.value;
    const Binding_problem problem(curves, p);
    Search_state state = search_state_of(p);
    for (int i = 0; i < 3; ++i) optimize_fit_simple(problem, state, 200);
    store_search_state(state, p);
    opt.ss = state.ss;
  }
  static double model(const double* total, const double* k_r_n) {
    Point_binding out;
    const auto k = testing::one_site_constants(k_r_n[0], k_r_n[1], k_r_n[2]);
    return calculate_bound_ligand_general(1, 1, total, k, 1.0, out), out.bound[0];
  }
  // The driver with a session seed on `threads` threads.
  Bootstrap_results bootstrap(int B, int threads) {
    set_worker_threads(threads);
    testing::Dialogue d("");
    Random_generator rng;
    rng.set_session_seed(42);
    Bootstrap_results r = p.n_curves == 1 ? calculate_bootstrap_se_kelvora(
                                                d.console(), curves, p, opt, B, rng, from_entropy)
                                          : calculate_bootstrap_se_kelvora_multi(
                                                d.console(), curves, p, opt, B, rng, from_entropy);
    EXPECT_EQ(rng.seedings(), 0u);  // the caller's generator is drawn from, never seeded
    set_worker_threads(2);
    return r;
  }
  Curve_table curves;
  Fit_parameters p;
  Fit_outcome opt;
};

TEST(BootstrapSe, SameSamplesWhateverTheNumberOfThreads) {
  testing::Scratch_folder folder;
  for (const int n_curves : {1, 2}) {
    Synthetic s(n_curves);
    const Bootstrap_results one = s.bootstrap(8, 1), three = s.bootstrap(8, 3);
    for (int b = 0; b < 8; ++b)  // bit for bit, NaN rows included
      EXPECT_EQ(std::memcmp(one.samples[b].data(), three.samples[b].data(), 2 * sizeof(double)), 0);
  }
}

TEST(BootstrapSe, PointsAtOneConcentrationGetTheirValuesWithoutErrors) {
  Synthetic s(1);
  Curve_data& curve = s.curves[0];
  for (int j = 0; j < 12; ++j) {
    curve.total_of(j, 1) = 1e-9;
    curve.bound[j] = Synthetic::model(curve.total[j].data(), s.p.value.data());
  }
  s.opt.ss = sum_of_squares_at(s.curves, s.p);
  testing::Dialogue d("");
  Random_generator rng;
  calculate_bootstrap_se_kelvora(d.console(), s.curves, s.p, s.opt, 4, rng, from_entropy);
  EXPECT_EQ(s.opt.determinacy, Determinacy::one_concentration);
  // The values alone (C's %E formatting as reference), the warning under the table, and no
  // NaN or infinity.
  const std::string text = d.transcript();
  char k11[64], r1[64];
  std::snprintf(k11, sizeof k11, "\n           K11%15.4E\n          (Kd =", s.p.value[0]);
  std::snprintf(r1, sizeof r1, "\n            R1%15.4E\n          (Bmax = ", s.p.value[1]);
  for (const char* value_alone : {k11, r1})
    EXPECT_NE(text.find(value_alone), text.npos) << value_alone << text;
  for (const std::string& part :
       {bar44 + "\nWARNING: The data do not determine the fitted parameters (all points at one "
                "concentration).\n\nSUM OF",
        std::string("AKAIKE INFORMATION CRITERION (AIC) =            N/A\n")})
    EXPECT_NE(text.find(part), text.npos) << text;
  for (const char* bad : {"NaN", "Inf"}) EXPECT_EQ(text.find(bad), text.npos) << bad;
}

TEST(BootstrapSe, AgreesWithTheLinearisedStandardErrors) {
  Synthetic s(1);
  // Linearised covariance MSE (J^T W J)^-1, J = dYhat / dln(theta) by central differences
  // (the three replicates of every point scale W and MSE alike).
  auto yhat = [&](int i, int m, double f) {  // at point i, with parameter m scaled by f
    double v[3] = {s.p.value[0], s.p.value[1], s.p.value[2]};
    return v[m] *= f, Synthetic::model(s.curves[0].total[i].data(), v);
  };
  double a[2][2] = {}, ss = 0.0, jac[2];
  for (int i = 0; i < 12; ++i) {
    const double y = yhat(i, 0, 1.0), w = 1.0 / (0.001 * y * y);
    for (int m = 0; m < 2; ++m) jac[m] = (yhat(i, m, 1 + 1e-5) - yhat(i, m, 1 - 1e-5)) / 2e-5;
    for (int m = 0; m < 4; ++m) a[m / 2][m % 2] += w * jac[m / 2] * jac[m % 2];
    ss += w * std::pow(s.curves[0].bound[i] - y, 2);
  }
  const double det = a[0][0] * a[1][1] - a[0][1] * a[1][0], inverse[2] = {a[1][1], a[0][0]};
  const Bootstrap_results r = s.bootstrap(100, 2);
  EXPECT_GE(r.n_converged, 95);
  for (int j = 0; j < 2; ++j) {
    const double se = s.p.value[j] * std::sqrt(ss / (12 - 2) * inverse[j] / det);
    EXPECT_TRUE(r.std_error[j] > 0.6 * se) << r.std_error[j] / se;
    EXPECT_TRUE(r.std_error[j] < 1.6 * se) << r.std_error[j] / se;
  }
  EXPECT_TRUE(s.opt.se[0] == r.std_error[0]);
  EXPECT_TRUE(s.opt.has_intervals);
  EXPECT_TRUE(s.opt.ci_lower[1] == r.ci_lower[1]);
}

TEST(BootstrapSe, SingleCurveRefitsWeighByTheReplicateCounts) {
  // The same points and fitted values, only the replicate counts differ (0 counts as 1).
  Synthetic equal(1), unequal(1);
  for (int j = 0; j < 12; ++j) unequal.curves[0].replicates[j] = 1 + j % 3;
  const Bootstrap_results a = equal.bootstrap(20, 2), b = unequal.bootstrap(20, 2);
  for (int j = 0; j < 2; ++j) EXPECT_NE(a.std_error[j], b.std_error[j]) << j;
}

TEST(BootstrapSe, AResampledCurveWeighsEachPointByItsOwnReplicateCount) {
  Synthetic s(1);
  Curve_data& curve = s.curves[0];
  Point_columns points;
  for (int j = 0; j < 12; ++j) {
    curve.replicates[j] = 1 + j % 3;
    points.x.push_back(curve.total_of(j, 1)), points.y.push_back(curve.bound[j]);
    points.r.push_back(curve.replicates[j]);
  }
  const std::vector<double> fitted = predict_curves(s.curves, s.p)[0].predicted;
  // Each resample, evaluated at the fitted values, must weigh its point i (point j of
  // the data) by w = r(j) / (0.001 Yhat(j)^2).
  auto check_weights = [&](const Point_columns& sample, auto&, auto&) {
    Curve_table set;
    Fit_parameters p = s.p;
    fill_resampled_curve(curve, sample, set[0]);
    p.n_points = set[0].n_points;
    const std::vector<double> weight = predict_curves(set, p)[0].weight;
    bool same = sample.rows() == 12;
    for (int i = 0; i < sample.rows(); ++i) {
      const auto j = std::find(points.x.begin(), points.x.end(), sample.x[i]) - points.x.begin();
      const double expected = points.r[j] / (0.001 * std::pow(fitted[j], 2));
      same = same && std::abs(weight[i] / expected - 1.0) < 1e-12;
    }
    return same;
  };
  testing::Dialogue d("");
  Random_generator rng;
  Bootstrap_results r;
  calculate_bootstrap_se(d.console(), points, {1e9, 1e-10}, 8, r, check_weights, rng);
  EXPECT_EQ(r.n_converged, 8);
}

TEST(BootstrapReport, TableAndSamplesFileLayout) {
  Fit_parameters p;
  p.n_params = 5, p.n_var = 3, p.n_points = 20, p.is_constant[1] = true;
  p.name = {"K11", "R1", "N1", "C1", "B1"}, p.value = {2e9, 1e-10, 0.0, 1.0, 1.0};
  p.var_of_param = {0, -1, 1, 2, 7}, p.var_map = {0, 2, 3};  // B1's variable number is out of range
  Fit_outcome opt;
  opt.ss = 0.42;
  Bootstrap_results r;
  r.std_error = {1e8, 0.002, nan}, r.ci_lower = {1.8e9, -0.001, 1.0};
  r.ci_upper = {2.2e9, 0.003, 1.0}, r.n_converged = 9, r.n_failed = 1;
  r.samples = {{2.1e9, 0.001, 1.0}, {nan, nan, nan}};
  testing::Dialogue d("");
  print_bootstrap_results_kelvora(d.console(), p, opt, r);
  const std::string bar = " ============================================\n";
  EXPECT_EQ(
      d.transcript(),
      "\n" + bar + "  NONLINEAR REGRESSION PARAMETER RESULTS\n" + bar +
          "  Converged: 9 / Failed: 1\n\n"
          "     Parameter      Value         Std Error     CV%      95% CI               Status\n" +
          std::string(87, '-') +
          "\n           K11     2.0000E+09     1.0000E+08     5.0%  1.8000E+09  2.2000E+09\n"
          "          (Kd =   5.000000E-10 M = 0.500 nM)\n"
          "            R1     1.0000E-10      ---         ---       ---         ---     (FIXED)\n"
          "            N1     0.0000E+00     2.0000E-03     0.0% -1.0000E-03  3.0000E-03\n"
          "            C1     1.0000E+00\n"
          "            B1     1.0000E+00  (ERROR: var_map issue)\n" +
          bar +
          "\nSUM OF SQUARED RESIDUALS (SSQ) =   4.200000E-01\n"
          // MSE = 0.42/17; AIC = 20 ln(0.42/20) + 6 = 20 (ln 21 - ln 1000) + 6.
          "RESIDUAL VARIANCE (MSE) =   2.470588E-02\n"
          "AKAIKE INFORMATION CRITERION (AIC) =  -7.126466E+01\n"
          "DEGREES OF FREEDOM =   17\n\n");
  // N1's standard error above the width 0.004 of its interval: a note under the table.
  r.std_error[1] = 0.0041;
  testing::Dialogue noted("");
  print_bootstrap_results_kelvora(noted.console(), p, opt, r);
  EXPECT_NE(
      noted.transcript().find(bar + " NOTE: The bootstrap replicates of N1 include outliers (SE "
                                    "above the width of the 95% interval);\n the 95% interval is "
                                    "the better guide to the uncertainty.\n\nSUM OF"),
      std::string::npos)
      << noted.transcript();

  EXPECT_EQ(bootstrap_samples_text(r, p),
            "# Bootstrap_Sample K11 N1 C1\n"
            "     1    2.100000E+09    1.000000E-03    1.000000E+00\n"
            "     2             NaN             NaN             NaN\n");
}

}  // namespace
}  // namespace kelvora
