#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit/fit_sequence.hpp"
#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"
#include "support/saturation_curves.hpp"
#include "support/session_random.hpp"

namespace kelvora {
namespace {

using testing::saturation_totals;

constexpr double ex1_truth[5] = {1e9, 1e-10, 0.01, 1.0, 1.0};

// One ligand, one site (slots K11 R1 N1 C1 B1): the saturation curve made from
// `truth`, times 1 + noise * (fixed normal-like deviates); the vector starts at
// `start`, `fitted` slots variable.
struct One_site_fit {
  One_site_fit(const double (&truth)[5], const double (&start)[5], const bool (&fitted)[5],
               double noise = 0.0) {
    constexpr double pattern[12] = {0.5, -1.2, 0.8,  1.5, -0.3, -0.9,
                                    0.2, 1.1,  -1.6, 0.4, -0.7, 0.9};
    double relative_error[12];
    for (int j = 0; j < 12; ++j) relative_error[j] = noise * pattern[j];
    p.n_ligands = p.n_sites = p.n_curves = 1;
    setup_parameter_names(p);
    testing::fill_saturation_curve(
        curves[0], testing::one_site_constants(truth[0], truth[1], truth[2], truth[4]), truth[3],
        relative_error);
    p.n_points = testing::saturation_points;
    for (int s = 0; s < 5; ++s) p.value[s] = start[s], p.is_constant[s] = !fitted[s];
    setup_variable_map(p, opt);
    p.accepted = p.value;
    evaluate_model(curves, p, opt);
  }
  double ss_at(double k, double r) {
    Fit_parameters q = p;
    q.value[0] = k, q.value[1] = r;
    Optimization_data o;
    evaluate_model(curves, q, o);
    return o.ss;
  }
  Curve_table curves;
  Fit_parameters p;
  Optimization_data opt;
};

TEST(Minimisers, SimplexThenLevenbergMarquardtReachTheMinimumOfExactData) {
  One_site_fit f(ex1_truth, {6e8, 1.5e-10, 0.004, 1.0, 1.0}, {true, true, true, false, false});
  const double start = f.opt.ss;
  nelder_mead_simplex(f.curves, f.p, f.opt, 300);
  EXPECT_TRUE(f.opt.ss < 0.1 * start);
  EXPECT_TRUE(f.p.value[1] == f.p.accepted[1]);
  optimize_fit_simple(f.curves, f.p, f.opt, 200);
  for (int s = 0; s < 3; ++s) EXPECT_NEAR(f.p.value[s] / ex1_truth[s], 1.0, 1e-6) << s;
  EXPECT_EQ(f.p.value, f.p.accepted);
  const double reported = f.opt.ss;
  evaluate_model(f.curves, f.p, f.opt);
  EXPECT_DOUBLE_EQ(f.opt.ss, reported);  // SS belongs to the returned point
}

TEST(LevenbergMarquardt, ReachesTheMinimumOfNoisyDataAndStaysThere) {
  // The weights 1 / (0.001 Yhat^2) change with the parameters. The minimum
  // over (K, R): nested golden-section searches on log K and log R.
  One_site_fit f(ex1_truth, ex1_truth, {true, true, false, false, false}, 0.03);
  auto golden = [](auto&& g, double a, double b) {
    for (int i = 0; i < 60; ++i) {
      const double c = b - 0.618034 * (b - a), d = a + 0.618034 * (b - a);
      const bool lower = g(c) < g(d);
      (lower ? b : a) = lower ? d : c;
    }
    return 0.5 * (a + b);
  };
  auto best_log_r = [&](double log_k) {
    return golden([&](double x) { return f.ss_at(std::exp(log_k), std::exp(x)); }, std::log(5e-11),
                  std::log(2e-10));
  };
  const double log_k =
      golden([&](double x) { return f.ss_at(std::exp(x), std::exp(best_log_r(x))); }, std::log(5e8),
             std::log(2e9));
  const double k = std::exp(log_k), r = std::exp(best_log_r(log_k)), ss_min = f.ss_at(k, r);

  // Both variants: numerical derivatives, and analytical ones with the
  // trust region (whose tunnel move cannot be needed here).
  testing::Session_random rng(std::nullopt);
  for (const bool enhanced : {false, true}) {
    auto run = [&] {
      return enhanced ? levenberg_marquardt_enhanced(f.curves, f.p, f.opt, rng.random)
                      : optimize_fit_simple(f.curves, f.p, f.opt, 200);
    };
    f.p.value[0] = f.p.accepted[0] = 1.05 * k;
    f.p.value[1] = f.p.accepted[1] = 0.97 * r;
    run();
    EXPECT_NEAR(f.opt.ss / ss_min, 1.0, 1e-8) << enhanced;
    EXPECT_NEAR(f.p.value[0] / k, 1.0, 1e-6);
    EXPECT_NEAR(f.p.value[1] / r, 1.0, 1e-6);
    // From the minimum no step gains much: the run ends long before its
    // iteration limit, the point kept.
    const Lm_summary again = run();
    EXPECT_TRUE(again.stop != Lm_summary::Stop::iteration_limit);
    EXPECT_TRUE(again.iterations < 40);
    EXPECT_EQ(again.tunnel_moves, 0);
    EXPECT_NEAR(f.p.value[0] / k, 1.0, 1e-6);
    EXPECT_LE(f.opt.ss, ss_min * (1 + 1e-8));
  }
}

TEST(LevenbergMarquardt, ReachesAMinimumOnABound) {
  // One-site data (noise-free, 3 % noise) fitted with two sites: the minimum
  // lies where the second site vanishes (R2 at its lower bound) or merges
  // with the first, and N at 0, where steps keep crossing the bounds. The
  // two-site fit must do as well as the one-site fit, which the one-site
  // model's minimum (found by the simplex and LM from the truth) gives.
  for (const double noise : {0.0, 0.03}) {
    One_site_fit one(ex1_truth, ex1_truth, {true, true, true, false, false}, noise);
    optimize_fit_simple(one.curves, one.p, one.opt, 200);
    Fit_parameters& p = one.p;
    const Curve_table curves = one.curves;
    Fit_parameters two;
    two.n_ligands = two.n_curves = 1;
    two.n_sites = 2;
    two.n_points = 12;
    setup_parameter_names(two);  // K11 K12 R1 R2 N1 C1 B1 B2
    const double start[8] = {7e8, 1e8, 0.7e-10, 1e-9, 1e-3, 1.0, 1.0, 1.0};
    for (int s = 0; s < 8; ++s) two.value[s] = start[s], two.is_constant[s] = s >= 5;
    Optimization_data opt;
    setup_variable_map(two, opt);
    two.accepted = two.value;
    Curve_table fitted = curves;
    evaluate_model(fitted, two, opt);
    optimize_fit_simple(fitted, two, opt, 200);
    testing::Session_random rng(std::nullopt);
    levenberg_marquardt_enhanced(fitted, two, opt, rng.random);
    EXPECT_LE(opt.ss, one.opt.ss * (1.0 + 1e-6) + 1e-12) << noise << " " << p.value[0];
  }
}

TEST(LevenbergMarquardt, PredictedDecreaseMatchesSmallSteps) {
  // For a short step the Gauss-Newton model's decrease equals the achieved
  // one to first order, so the step quality is near 1 (and positive).
  One_site_fit f(ex1_truth, {8e8, 1.2e-10, 0.02, 1.0, 1.0}, {true, true, true, false, false});
  calculate_analytical_gradient_hessian(f.curves, f.p, f.opt);
  const double ss = f.opt.ss;
  for (int i = 0; i < 3; ++i) f.p.value[i] = f.p.accepted[i] * (1.0 + 1e-4 * (i + 1));
  const double predicted = predicted_decrease(f.p, f.opt);
  evaluate_model(f.curves, f.p, f.opt);
  EXPECT_NEAR((ss - f.opt.ss) / predicted, 1.0, 0.01);
}

TEST(LevenbergMarquardt, DampingRules) {
  Optimization_data opt;
  opt.lambda_start = 0.25;  // the last determinant
  EXPECT_TRUE(raise_damping_after_failure(opt));
  EXPECT_TRUE(opt.lambda == 0.25);
  EXPECT_TRUE(raise_damping_after_failure(opt));
  EXPECT_TRUE(opt.lambda == 2.5);
  opt.lambda = opt.lambda_start = 0.0;  // no determinant known yet
  EXPECT_TRUE(raise_damping_after_failure(opt));
  EXPECT_TRUE(opt.lambda == 0.001);
  opt.lambda = 0.0;
  EXPECT_TRUE(raise_damping_after_rejection(opt));
  EXPECT_TRUE(opt.lambda == 0.001);
  opt.lambda = 1e9;
  EXPECT_TRUE(raise_damping_after_rejection(opt));  // 1e10 is still allowed
  EXPECT_FALSE(raise_damping_after_rejection(opt) || raise_damping_after_failure(opt));
}

// dYhat/dtheta for one ligand at one site with B = 1: F solves
// (1 + CN) K F^2 + (1 + CN + KCR - KT) F - T = 0, and G = F (1 + CN) + F K Q
// - T = 0 with Q = CR (1 + BA) / (1 + 2A + BA^2), A = KF, gives
// dYhat/dtheta = -dF/dtheta = G_theta / G_F.
void closed_form_derivatives(double t, const double (&v)[5], double (&d)[5]) {
  const double k = v[0], r = v[1], n = v[2], c = v[3], ns = 1.0 + c * n;
  const double b = ns + k * c * r - k * t, root = std::sqrt(b * b + 4.0 * ns * k * t);
  const double f = b >= 0.0 ? 2.0 * t / (b + root) : (root - b) / (2.0 * ns * k);
  const double u = 1.0 + k * f, g_f = ns + c * r * k / (u * u);
  d[0] = c * r * f / (u * u) / g_f;
  d[1] = c * k * f / u / g_f;
  d[2] = c * f / g_f;
  d[3] = (n * f + r * k * f / u) / g_f;
  d[4] = c * r * k * f * (u - 1.0) / (u * u * u) / g_f;  // dQ/dB = CR A / (1 + A)^3 at B = 1
}

TEST(Derivatives, MatchTheClosedFormOverTheAdmissibleRange) {
  // Error allowed: 1e-5 of the derivative, or a millionth of Yhat per
  // typical change of the parameter (its value; 0.01 for N near zero).
  const double points[][5] = {
      {1e9, 1e-10, 1e-15, 1.0, 1.0}, {1e9, 1e-10, 0.0, 1.0, 1.0},  {1e9, 1e-10, 0.01, 0.1, 1.0},
      {1e5, 1e-14, 0.5, 0.1, 1.0},   {1e14, 1e-5, 1e-15, 10, 1.0}, {1e12, 1e-12, 0.2, 10, 1.0},
      {1e14, 1e-14, 0.0, 1.0, 1.0},  {1e5, 1e-5, 1e-15, 1.0, 1.0}, {1e7, 1e-8, 0.05, 3.0, 1.0}};
  for (const auto& v : points) {
    One_site_fit f(ex1_truth, v, {true, true, true, true, true});
    for (int j = 0; j < 12; ++j) {
      double d[max_params], expected[5];
      closed_form_derivatives(saturation_totals[j], v, expected);
      const double typical[5] = {v[0], v[1], std::max(v[2], 0.01), v[3], v[4]};
      for (const bool analytical : {false, true}) {
        if (analytical) {
          calculate_derivatives_analytical(f.curves[0], f.p, j, d, 1);
        } else {
          calculate_derivatives2(f.curves[0], f.p, j, d, 1);
        }
        for (int s = 0; s < 5; ++s) {
          const double tolerance =
              1e-5 * std::abs(expected[s]) + 1e-6 * f.curves[0].predicted[j] / typical[s];
          EXPECT_NEAR(d[s], expected[s], tolerance) << s << " " << j << " " << analytical;
        }
      }
    }
  }
}

TEST(Simplex, StartingVerticesAndOneVariable) {
  // {slot, start, perturbed vertex}, data made at the vertex: with m = 1 and
  // no iteration the simplex returns that vertex exactly.
  const double cases[][3] = {
      {0, 5e8, 1e9}, {1, 5e-11, 1e-10}, {2, 0.42, 0.45}, {3, 1, 1.5}, {4, 1, 1.5}};
  for (const auto& c : cases) {
    const int slot = static_cast<int>(c[0]);
    double truth[5] = {1e9, 1e-10, 0.01, 1.0, 1.0}, start[5] = {1e9, 1e-10, 0.01, 1.0, 1.0};
    bool fitted[5] = {};
    truth[slot] = c[2], start[slot] = c[1], fitted[slot] = true;
    One_site_fit f(truth, start, fitted);
    nelder_mead_simplex(f.curves, f.p, f.opt, 0);
    EXPECT_EQ(f.p.value[slot], c[2]) << slot;
  }
  // Iterating with m = 1; an entry SS below every vertex is kept.
  One_site_fit f(ex1_truth, {6e8, 1e-10, 0.01, 1.0, 1.0}, {true, false, false, false, false}, 0.03);
  f.opt.ss = 1e-300;
  nelder_mead_simplex(f.curves, f.p, f.opt, 100);
  EXPECT_NEAR(f.p.value[0] / 1e9, 1.0, 0.05);
  EXPECT_TRUE(f.opt.ss == 1e-300);
  EXPECT_TRUE(f.p.value[1] == 1e-10);  // the constant R1 untouched
}

TEST(Simplex, RanksBestWorstAndSecondWorst) {
  struct Case {
    std::vector<double> f;
    int best, worst, second;
  };
  const Case cases[] = {{{5, 1, 3}, 1, 0, 2},    {{5, 3, 1, 4}, 2, 0, 3}, {{1, 5, 3}, 0, 1, 2},
                        {{2, 2, 1, 2}, 2, 0, 1}, {{1, 1, 1}, 0, 0, 1},    {{3, 1}, 1, 0, 1},
                        {{1, 3}, 0, 1, 0},       {{4, 4}, 0, 0, 1},       {{2, 7, 7, 1}, 3, 1, 2}};
  for (const Case& c : cases) {
    const Simplex_ranking r = rank_simplex(c.f.data(), static_cast<int>(c.f.size()));
    EXPECT_TRUE(r.best == c.best) << ::testing::PrintToString(c.f) << ": " << r.best << r.worst
                                  << r.second;
    EXPECT_TRUE(r.worst == c.worst)
        << ::testing::PrintToString(c.f) << ": " << r.best << r.worst << r.second;
    EXPECT_TRUE(r.second == c.second)
        << ::testing::PrintToString(c.f) << ": " << r.best << r.worst << r.second;
  }
  // No data: every vertex scores 0, and the spread test stops at the tenth iteration.
  One_site_fit f(ex1_truth, ex1_truth, {true, true, false, false, false});
  f.curves[0].n_points = f.p.n_points = 0;
  const Simplex_summary summary = nelder_mead_simplex(f.curves, f.p, f.opt, 100);
  EXPECT_TRUE(summary.converged) << summary.iterations;
  EXPECT_TRUE(summary.iterations == 10) << summary.iterations;
}

TEST(SequenceGuard, ReturnsToTheBestPointSeen) {
  One_site_fit f(ex1_truth, ex1_truth, {true, true, true, false, false}, 0.03);
  optimize_fit_simple(f.curves, f.p, f.opt, 200);
  const auto minimum = f.p.value;
  const double ss_min = f.opt.ss;
  Best_point best;
  best.consider(f.curves, f.p);
  f.p.value[0] *= 1.5;
  best.consider(f.curves, f.p);
  f.p.value[1] = std::nan("");  // a point without a sum is never kept
  EXPECT_TRUE(best.restore_if_better(f.curves, f.p, f.opt));
  EXPECT_TRUE(f.p.value == minimum);
  EXPECT_TRUE(f.p.accepted == minimum);
  EXPECT_EQ(f.opt.ss, ss_min);
  EXPECT_FALSE(best.restore_if_better(f.curves, f.p, f.opt));  // already there
}

TEST(SequenceGuard, UndoesARefinementThatMoreThanDoubledTheSum) {
  Fit_parameters p;
  p.backup[0] = 1e9;  // the point whose sum of squares is the reference, 10
  Optimization_data opt;
  struct Case {
    double ss;
    bool nan_restores, restored;
  };
  const double nan = std::nan("");
  for (const Case c : {Case{20.0, false, false}, Case{20.5, false, true}, Case{nan, false, false},
                       Case{nan, true, true}, Case{15.0, true, false}}) {
    p.value[0] = p.accepted[0] = 3e9;
    opt.ss = c.ss;
    EXPECT_EQ(restore_if_markedly_worse(p, opt, 10.0, c.nan_restores), c.restored) << c.ss;
    EXPECT_EQ(p.value[0], c.restored ? 1e9 : 3e9);
    EXPECT_EQ(p.accepted[0], p.value[0]);
    if (c.restored) {
      EXPECT_EQ(opt.ss, 10.0);
    }
  }
}

TEST(EvaluateModel, RepairsNegativeAndOutOfBoundsValues) {
  One_site_fit f(ex1_truth, {1e14, 1e-5, 0.01, 1.0, 1.0}, {true, true, true, false, false});
  const double at_bounds = f.opt.ss;
  f.p.value[0] = 1e15, f.p.value[1] = 1e-3;
  evaluate_model(f.curves, f.p, f.opt);
  EXPECT_TRUE(f.p.value[0] == 1e14);
  EXPECT_TRUE(f.p.value[1] == 1e-5);
  EXPECT_EQ(f.opt.ss, at_bounds);  // the sum belongs to the repaired vector
  f.p.value[0] = 5e8, f.p.value[1] = 1e-10;
  evaluate_model(f.curves, f.p, f.opt);
  const double unpenalised = f.opt.ss;
  f.p.value[1] = -1e-10, f.p.value[2] = -0.01;
  evaluate_model(f.curves, f.p, f.opt);
  EXPECT_TRUE(f.p.value[1] == 1e-10);
  EXPECT_TRUE(f.p.value[2] == 0.01);
  EXPECT_DOUBLE_EQ(f.opt.ss, 1000001.0 * unpenalised);
}

TEST(ComputeWeight, FollowsTheCoefficientsAndReplicates) {
  const double y = 2e-11;
  EXPECT_DOUBLE_EQ(compute_weight(y, {0, 0, 0.001, 0, 0}, 3.0), 3.0 / (0.001 * y * y));
  EXPECT_DOUBLE_EQ(compute_weight(-y, {0, 0, 0, 1, 1.5}, 0.0), 1.0 / std::pow(y, 1.5));
  // A denominator of 0, below zero or not a number is floored at 1e-30.
  EXPECT_DOUBLE_EQ(compute_weight(0.0, {0, 0, 0.001, 0, 0}, 3.0), 3e30);
  EXPECT_DOUBLE_EQ(compute_weight(std::nan(""), {0, 1, 0, 0, 0}, -2.0), 1e30);
}

TEST(ComputeWeight, LogSlopeOfTheVarianceIsMinusThatOfTheWeight) {
  // v'/v = -d ln w / dY (a central difference); 0 where v is floored.
  const std::array<double, n_weight_coefs> sets[] = {
      {1e-24, 1e-12, 0.001, 0, 0}, {0, 0, 0, 2, 1.5}, {1e-22, 0, 0.01, 3, 0.5}};
  for (const auto& a : sets) {
    for (const double y : {3e-12, 8e-11, -5e-11}) {
      if (compute_weight(y, a, 1.0) == 1e30) continue;
      const double h = 1e-6 * std::abs(y);
      const double numeric =
          (std::log(compute_weight(y - h, a, 2.0)) - std::log(compute_weight(y + h, a, 2.0))) /
          (2 * h);
      EXPECT_NEAR(variance_log_slope(y, a), numeric, 1e-7 * std::abs(numeric)) << a[4] << " " << y;
    }
  }
  EXPECT_EQ(variance_log_slope(-1.0, {0, 1, 0, 0, 0}), 0.0);
}

TEST(KConstraintsBarrier, PushesOnlyLigandOnesSecondSiteBelowItsFirst) {
  for (const int ligands : {2, 1}) {  // one ligand (K11 K12 R1 R2): no K22, no change
    for (const bool constant : {false, true}) {
      Fit_parameters p;
      p.n_ligands = ligands, p.n_sites = 2, p.n_curves = 1;
      setup_parameter_names(p);
      p.value = {1e9, 1e8, 1e7, 1e9};  // ligand 2 prefers site 2 and keeps it
      p.is_constant[1] = constant;     // a constant keeps the user's value
      apply_k_constraints_barrier(p);
      const bool moves = ligands == 2 && !constant;
      EXPECT_DOUBLE_EQ(p.value[1], moves ? 1e8 * (1 + std::tanh(1.8)) / 2 : 1e8);
      EXPECT_DOUBLE_EQ(p.value[2], 1e7);
      EXPECT_DOUBLE_EQ(p.value[3], 1e9);
    }
  }
}

}  // namespace
}  // namespace kelvora
