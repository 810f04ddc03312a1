#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"
#include "stats/bootstrap_se.hpp"
#include "support/dialogue.hpp"
#include "support/scratch_folder.hpp"
#include "util/parallel.hpp"

namespace kelvora {
namespace {

const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
const std::string bar44(44, '=');

// Runs the single-curve engine on 3 points with a refit that applies `make`.
std::string run_engine(int B, Bootstrap_results& r,
                       std::function<bool(std::vector<double>&)> make) {
  testing::Dialogue d("");
  Random_generator rng;
  const std::vector<double> v = {1.0, 2.0, 3.0};
  calculate_bootstrap_se(
      d.console(), v, v, v, {5.0, 6.0}, B, r,
      [&](auto&, auto&, auto&, int, std::vector<double>& p, Random_generator&) { return make(p); },
      rng, true);
  return d.transcript();
}

TEST(BootstrapEngine, ProgressLinesAndClosingCounts) {
  Bootstrap_results r;
  EXPECT_EQ(run_engine(5, r, [](auto&) { return true; }),
            bar44 + "\n Bootstrap SE Calculation (5 samples)\n" + bar44 +
                "\n  Completed 1/5 ( 20.0%)\n  Completed 2/5 ( 40.0%)\n  Completed 3/5 ( 60.0%)\n"
                "  Completed 4/5 ( 80.0%)\n  Completed 5/5 (100.0%)\n" +
                bar44 + "\n Converged: 5 / Failed: 0\n" + bar44 + "\n");
  const std::string text = run_engine(100, r, [](auto&) { return true; });
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 10 + 3);
  EXPECT_NE(text.find("=\n  Completed 10/100 ( 10.0%)\n  Completed 20/100 ( 20.0%)\n"), text.npos);
  // Every replicate failing: all summaries NaN.
  EXPECT_NE(run_engine(7, r, [](auto&) { return false; }).find("Converged: 0 / Failed: 7\n"),
            text.npos);
  for (const auto& s : {r.mean, r.std_error, r.median, r.ci_lower, r.ci_upper})
    EXPECT_TRUE(std::isnan(s[1]));
}

TEST(BootstrapEngine, ARefitLeavingANonFiniteValueCountsAsFailed) {
  std::atomic<int> calls = 0;
  Bootstrap_results r;
  run_engine(20, r, [&](std::vector<double>& p) {
    const int k = calls++;
    p[0] = k == 0 ? inf : k == 1 ? nan : 5.0 + k % 2;  // values 5 and 6
    return true;
  });
  EXPECT_TRUE(r.n_failed == 2 && r.n_converged == 18);
  EXPECT_NEAR(r.std_error[0], std::sqrt(9 * 0.25 * 2 / 17.0), 1e-12);  // nine 5s and nine 6s
  EXPECT_EQ(r.std_error[1], 0.0);
}

TEST(BootstrapEngine, StatisticsSkipNaNs) {
  Bootstrap_results r;
  r.samples = {{1.0, nan, nan}, {nan, 4.5, nan}, {3.0, nan, nan}};
  calculate_bootstrap_statistics(r, 3);
  EXPECT_TRUE(r.median[0] == 2.0 && r.mean[0] == 2.0 && r.std_error[0] == std::sqrt(2.0));
  EXPECT_DOUBLE_EQ(r.ci_lower[0], 1.05);
  EXPECT_DOUBLE_EQ(r.ci_upper[0], 2.95);
  for (const double v : {r.mean[1], r.median[1], r.ci_lower[1], r.ci_upper[1]}) EXPECT_EQ(v, 4.5);
  EXPECT_TRUE(std::isnan(r.std_error[1]));
  EXPECT_TRUE(std::isnan(r.mean[2]) && std::isnan(r.ci_upper[2]));
}

TEST(BootstrapEngine, IndexDrawStaysInRange) {
  std::vector<int> idx;
  for (const int n : {1, 5, 12, 1000})  // r just below 1, and r = 1 from a coarser generator
    for (const double r : {std::nextafter(1.0, 0.0), 1.0}) {
      generate_bootstrap_indices(n, idx, [r] { return r; });
      EXPECT_EQ(idx, std::vector<int>(n, n - 1));
    }
  generate_bootstrap_indices(5, idx, [] { return 0.0; });
  EXPECT_EQ(idx, std::vector<int>(5, 0));
}

// One-site saturation curves of 12 points (K11 R1 N1 variable, C and B
// constant), bound = truth times 1 + 3 % noise (sd) from a fixed sequence;
// relative weights 1 / (0.001 Y^2).
struct Synthetic {
  explicit Synthetic(int n_curves) {
    p.n_ligands = p.n_sites = 1;
    p.n_curves = n_curves;
    setup_parameter_names(p);
    k.K[0][0] = 1e9, k.R[0] = 1e-10, k.N[0] = 0.01, k.B[0] = 1.0;
    unsigned state = 12345u;
    for (int c = 0; c < n_curves; ++c) {
      Curve_data& curve = curves[c];
      curve.varying_ligand = curve.labelled_ligand = 1;
      curve.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
      allocate_curve_data(curve);
      curve.n_points = 12;
      p.n_points += 12;
      for (int j = 0; j < 12; ++j) {
        state = state * 1103515245u + 12345u;
        const double u = (state >> 8) / 16777216.0 * 2.0 - 1.0;  // uniform on [-1, 1)
        curve.total_of(j, 1) = 1e-11 * std::pow(2000.0, j / 11.0);
        curve.replicates[j] = 1.0;
        curve.bound[j] = model(curve.total[j].data(), k) * (1.0 + 0.03 * std::sqrt(3.0) * u);
      }
    }
    p.value = {1e9, 1e-10, 0.01, 1.0, 1.0};
    setup_variable_map(p, opt);
    p.accepted = p.backup = p.value;
    for (int i = 0; i < 3; ++i) optimize_fit_simple(curves, p, opt, 200);
  }
  static double model(const double* total, const Binding_constants& c) {
    Point_binding out;
    return calculate_bound_ligand_general(1, 1, total, c, 1.0, out), out.bound[0];
  }
  Curve_table curves;
  Fit_parameters p;
  Optimization_data opt;
  Binding_constants k;
};

TEST(BootstrapSe, SameSamplesWhateverTheNumberOfThreads) {
  testing::Scratch_folder folder;
  for (const int n_curves : {1, 2}) {
    Bootstrap_results r[2];
    std::string text[2];
    for (const int t : {0, 1}) {
      set_worker_threads(t == 0 ? 1 : 3);
      Synthetic s(n_curves);
      testing::Dialogue d("");
      Random_generator rng;
      rng.set_session_seed(42);
      r[t] = n_curves == 1
                 ? calculate_bootstrap_se_kelvora(d.console(), s.curves, s.p, s.opt, 8, rng)
                 : calculate_bootstrap_se_kelvora_multi(d.console(), s.curves, s.p, s.opt, 8, rng);
      text[t] = d.transcript();
    }
    set_worker_threads(2);
    ASSERT_EQ(r[0].samples.size(), 8u);
    for (int b = 0; b < 8; ++b)  // bit for bit, NaN rows included
      EXPECT_EQ(std::memcmp(r[0].samples[b].data(), r[1].samples[b].data(), 3 * sizeof(double)), 0);
    EXPECT_EQ(text[0], text[1]);
  }
}

TEST(BootstrapSe, AgreesWithTheLinearisedStandardErrors) {
  Synthetic s(1);
  const Fit_parameters before = s.p;
  // Asymptotic covariance MSE (J^T W J)^-1, J = dYhat / dln(theta) by central
  // differences of the point model, at the fitted K, R, N.
  Binding_constants at = s.k;
  at.K[0][0] = s.p.value[0], at.R[0] = s.p.value[1], at.N[0] = s.p.value[2];
  double* theta[3] = {&at.K[0][0], &at.R[0], &at.N[0]};
  double a[3][3] = {}, ss = 0.0;
  for (int i = 0; i < 12; ++i) {
    const double* total = s.curves[0].total[i].data();
    const double yhat = Synthetic::model(total, at), w = 1.0 / (0.001 * yhat * yhat);
    double jac[3];
    for (int m = 0; m < 3; ++m) {
      const double keep = *theta[m];
      *theta[m] = keep * (1 + 1e-5);
      const double up = Synthetic::model(total, at);
      *theta[m] = keep * (1 - 1e-5);
      jac[m] = (up - Synthetic::model(total, at)) / 2e-5;
      *theta[m] = keep;
    }
    for (int m = 0; m < 3; ++m)
      for (int q = 0; q < 3; ++q) a[m][q] += w * jac[m] * jac[q];
    ss += w * std::pow(s.curves[0].bound[i] - yhat, 2);
  }
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  const double inv00 = (a[1][1] * a[2][2] - a[1][2] * a[2][1]) / det;
  const double inv11 = (a[0][0] * a[2][2] - a[0][2] * a[2][0]) / det;
  const double mse = ss / (12 - 3);
  testing::Dialogue d("");
  Random_generator rng;
  rng.set_session_seed(3);
  const Bootstrap_results r =
      calculate_bootstrap_se_kelvora(d.console(), s.curves, s.p, s.opt, 100, rng);
  EXPECT_GE(r.n_converged, 95);
  const double ratio_k = r.std_error[0] / (s.p.value[0] * std::sqrt(mse * inv00));
  const double ratio_r = r.std_error[1] / (s.p.value[1] * std::sqrt(mse * inv11));
  EXPECT_TRUE(ratio_k > 0.6 && ratio_k < 1.6) << ratio_k;
  EXPECT_TRUE(ratio_r > 0.6 && ratio_r < 1.6) << ratio_r;
  EXPECT_EQ(s.opt.se[0], r.std_error[0]);
  EXPECT_TRUE(s.opt.has_intervals && s.opt.ci_lower[1] == r.ci_lower[1]);
  EXPECT_EQ(s.p.value, before.value);
}

TEST(BootstrapReport, TableAndSamplesFileLayout) {
  Fit_parameters p;
  p.n_params = 5, p.n_var = 3, p.n_points = 20;
  p.name = {"K11", "R1", "N1", "C1", "B1"};
  p.value = {2e9, 1e-10, 0.0, 1.0, 1.0};
  p.is_constant[1] = true;
  p.var_of_param = {0, -1, 1, 2, 7};
  p.var_map = {0, 2, 3};
  Optimization_data opt;
  opt.ss = 0.42;
  Bootstrap_results r;
  r.n_converged = 9, r.n_failed = 1;
  r.std_error = {1e8, 0.002, nan};
  r.ci_lower = {1.8e9, -0.001, 1.0};
  r.ci_upper = {2.2e9, 0.003, 1.0};
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
          "          (Kd =   5.000000E-10 M)\n"
          "            R1     1.0000E-10      ---         ---       ---         ---     (FIXED)\n"
          "            N1     0.0000E+00     2.0000E-03     0.0% -1.0000E-03  3.0000E-03\n"
          "            C1     1.0000E+00            NaN   999 %  1.0000E+00  1.0000E+00\n"
          "            B1     1.0000E+00  (ERROR: var_map issue)\n" +
          bar +
          "\nSUM OF SQUARED RESIDUALS (SSQ) =   4.200000E-01\n"
          "RESIDUAL VARIANCE (MSE) =   2.470588E-02\n"
          "AKAIKE INFORMATION CRITERION (AIC) =  -7.224046E+01\n"
          "DEGREES OF FREEDOM =   17\n\n");

  testing::Scratch_folder folder;
  testing::Dialogue ok("");
  EXPECT_TRUE(write_bootstrap_samples_kelvora(ok.console(), r, p, "boot.dat"));
  EXPECT_EQ(testing::read_text("boot.dat"),
            "# Bootstrap_Sample K11 N1 C1\n"
            "     1    2.100000E+09    1.000000E-03    1.000000E+00\n"
            "     2             NaN             NaN             NaN\n");
  EXPECT_EQ(ok.transcript(), " Bootstrap samples written to: boot.dat\n");
  std::filesystem::create_directory("taken.dat");
  testing::Dialogue bad("");
  EXPECT_FALSE(write_bootstrap_samples_kelvora(bad.console(), r, p, "taken.dat"));
  EXPECT_EQ(bad.transcript(), "ERROR: Cannot write file taken.dat\n");
  EXPECT_FALSE(std::filesystem::exists("taken.dat.tmp"));
}

}  // namespace
}  // namespace kelvora
