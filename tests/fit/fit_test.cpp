#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "fit/binding_problem.hpp"
#include "fit/fit_sequence.hpp"
#include "fit/minimisers.hpp"
#include "model/binding_model.hpp"
#include "model/curve_predictions.hpp"
#include "params/parameter_vector.hpp"
#include "support/saturation_curves.hpp"
#include "support/session_random.hpp"

namespace kelvora {
namespace {

using testing::saturation_totals;

constexpr double ex1_truth[5] = {1e9, 1e-10, 0.01, 1.0, 1.0};

// One ligand, one site (slots K11 R1 N1 C1 B1): the saturation curve made from
// `truth`, times 1 + noise * (fixed normal-like deviates); the search starts
// at `start`, `fitted` slots variable (the first slots, so that variable i
// is slot i).
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
    setup_variable_map(p);
    p.accepted = p.value;
    problem = std::make_unique<Binding_problem>(curves, p);
    state = search_state_of(p);
    evaluate(*problem, state);
  }
  double ss_at(double k, double r) const {
    Fit_parameters q = p;
    q.value[0] = k, q.value[1] = r;
    return sum_of_squares_at(curves, q);
  }
  void start_at(std::initializer_list<double> x) {
    std::copy(x.begin(), x.end(), state.value.begin());
    state.accept();
  }
  Curve_table curves;
  Fit_parameters p;
  std::unique_ptr<Binding_problem> problem;
  Search_state state;
};

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

  // Every variant of the damped loop, from near the minimum (the tunnel move
  // of the enhanced variant cannot be needed here).
  testing::Session_random rng(std::nullopt);
  using Variant = Lm_summary (*)(const Least_squares_problem&, Search_state&, const Fit_random&);
  const Variant variants[] = {[](const Least_squares_problem& p, Search_state& s,
                                 const Fit_random&) { return optimize_fit_simple(p, s, 200); },
                              levenberg_marquardt_enhanced, optimize_fit_with_tunnel,
                              optimize_with_adaptive_tunnel};
  for (int v = 0; v < 4; ++v) {
    f.start_at({1.05 * k, 0.97 * r});
    variants[v](*f.problem, f.state, rng.random);
    EXPECT_NEAR(f.state.ss / ss_min, 1.0, 1e-8) << v;
    EXPECT_NEAR(f.state.value[0] / k, 1.0, 1e-6) << v;
    EXPECT_NEAR(f.state.value[1] / r, 1.0, 1e-6) << v;
    // From the minimum no step gains much: the run ends long before its
    // iteration limit, the point kept.
    const Lm_summary again = variants[v](*f.problem, f.state, rng.random);
    EXPECT_NE(again.stop, Lm_summary::Stop::iteration_limit) << v;
    EXPECT_LT(again.iterations, 40) << v;
    EXPECT_NEAR(f.state.value[0] / k, 1.0, 1e-6) << v;
    EXPECT_LE(f.state.ss, ss_min * (1 + 1e-8)) << v;
  }
}

TEST(LevenbergMarquardt, ReachesAMinimumOnABound) {
  // One-site data (noise-free, 3 % noise) fitted with two sites: the minimum
  // lies where the second site vanishes (R2 at its lower bound) or merges
  // with the first, and N at 0, where steps keep crossing the bounds. The
  // two-site fit must do as well as the one-site fit, which the one-site
  // model's minimum (found by LM from the truth) gives.
  for (const double noise : {0.0, 0.03}) {
    One_site_fit one(ex1_truth, ex1_truth, {true, true, true, false, false}, noise);
    optimize_fit_simple(*one.problem, one.state, 200);
    Fit_parameters two;
    two.n_ligands = two.n_curves = 1;
    two.n_sites = 2;
    two.n_points = 12;
    setup_parameter_names(two);  // K11 K12 R1 R2 N1 C1 B1 B2
    const double start[8] = {7e8, 1e8, 0.7e-10, 1e-9, 1e-3, 1.0, 1.0, 1.0};
    for (int s = 0; s < 8; ++s) two.value[s] = start[s], two.is_constant[s] = s >= 5;
    setup_variable_map(two);
    two.accepted = two.value;
    const Binding_problem problem(one.curves, two);
    Search_state state = search_state_of(two);
    evaluate(problem, state);
    optimize_fit_simple(problem, state, 200);
    testing::Session_random rng(std::nullopt);
    levenberg_marquardt_enhanced(problem, state, rng.random);
    EXPECT_LE(state.ss, one.state.ss * (1.0 + 1e-6) + 1e-12) << noise;
  }
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

TEST(BindingProblem, NormalEquationsMatchTheClosedFormOverTheAdmissibleRange) {
  // H = sum w d d^T and g = sum w (e + e^2 v'/(2v)) d from closed-form
  // derivatives d, against the problem's numerical and analytical ones. A
  // derivative may err by 1e-5 of itself or a millionth of Yhat per typical
  // change of the parameter (its value; 0.01 for N near zero); the sums by
  // what those errors give.
  const double points[][5] = {
      {1e9, 1e-10, 1e-15, 1.0, 1.0}, {1e9, 1e-10, 0.0, 1.0, 1.0},  {1e9, 1e-10, 0.01, 0.1, 1.0},
      {1e5, 1e-14, 0.5, 0.1, 1.0},   {1e14, 1e-5, 1e-15, 10, 1.0}, {1e12, 1e-12, 0.2, 10, 1.0},
      {1e14, 1e-14, 0.0, 1.0, 1.0},  {1e5, 1e-5, 1e-15, 1.0, 1.0}, {1e7, 1e-8, 0.05, 3.0, 1.0}};
  for (const auto& v : points) {
    One_site_fit f(ex1_truth, v, {true, true, true, true, true});
    const Curve_data& curve = f.curves[0];
    const Curve_prediction fit = predict_curves(f.curves, f.p)[0];
    double g[5] = {}, h[5] = {}, g_error[5] = {}, h_error[5] = {};
    for (int j = 0; j < 12; ++j) {
      double d[5];
      closed_form_derivatives(saturation_totals[j], v, d);
      const double typical[5] = {v[0], v[1], std::max(v[2], 0.01), v[3], v[4]};
      const double e = fit.residual[j], w = fit.weight[j];
      const double e_gradient =
          e + 0.5 * e * e * variance_log_slope(fit.predicted[j], curve.weight_coef);
      for (int s = 0; s < 5; ++s) {
        const double error = 1e-5 * std::abs(d[s]) + 1e-6 * fit.predicted[j] / typical[s];
        g[s] += w * e_gradient * d[s];
        h[s] += w * d[s] * d[s];
        g_error[s] += std::abs(w * e_gradient) * error;
        h_error[s] += w * (2.0 * std::abs(d[s]) + error) * error;
      }
    }
    for (const auto kind : {Derivative_kind::numerical, Derivative_kind::analytical}) {
      Normal_equations ne;
      f.problem->normal_equations(f.state.trial(), kind, ne);
      for (int s = 0; s < 5; ++s) {
        EXPECT_NEAR(ne.g[s], g[s], g_error[s]) << s << " " << v[0] << " " << int(kind);
        EXPECT_NEAR(ne.h[s][s], h[s], h_error[s]) << s << " " << v[0] << " " << int(kind);
      }
    }
  }
}

TEST(BindingProblem, ProjectsAndRelabelsAsEveryEvaluationDoes) {
  // Out of bounds: clamped, and SS belongs to the clamped point.
  One_site_fit f(ex1_truth, {1e14, 1e-5, 0.01, 1.0, 1.0}, {true, true, true, false, false});
  const double at_bounds = f.state.ss;
  f.start_at({1e15, 1e-3, 0.01});
  evaluate(*f.problem, f.state);
  EXPECT_EQ(f.state.value[0], 1e14);
  EXPECT_EQ(f.state.value[1], 1e-5);
  EXPECT_EQ(f.state.ss, at_bounds);
  // Negative values: reflected, and the sum penalised.
  f.start_at({5e8, 1e-10, 0.01});
  const double unpenalised = evaluate(*f.problem, f.state);
  f.start_at({5e8, -1e-10, -0.01});
  evaluate(*f.problem, f.state);
  EXPECT_EQ(f.state.value[1], 1e-10);
  EXPECT_EQ(f.state.value[2], 0.01);
  EXPECT_DOUBLE_EQ(f.state.ss, 1000001.0 * unpenalised);
  // The reflected point itself is admissible: its sum, known from the
  // evaluation before, carries no penalty, and is not computed again.
  const long long computed = f.state.evaluations;
  evaluate(*f.problem, f.state);
  EXPECT_EQ(f.state.ss, unpenalised);
  EXPECT_EQ(f.state.evaluations, computed);

  // Two ligands at two sites (K11 K12 K21 K22 R1 R2 N1 N2 C1 B1 B2) with site
  // 2 binding ligand 1 more strongly: the sites exchange all their
  // parameters, in the trial and the accepted point, and the model is
  // unchanged. Never with a constant among them, one competition curve
  // first, or another number of ligands or sites.
  auto two_sites = [](bool competition, int constant) {
    Fit_parameters p;
    p.n_ligands = 2, p.n_sites = 2, p.n_curves = 1, p.n_points = 2;
    setup_parameter_names(p);
    p.value = {1e8, 1e9, 2e9, 5e8, 1e-10, 2e-10, 1e-3, 2e-3, 1.0, 1.0, 1.0};
    for (int s = 0; s < 11; ++s) p.is_constant[s] = s >= 8 || s == constant;
    setup_variable_map(p);
    Curve_table curves;
    Curve_data& c = curves[0];
    allocate_curve_data(c);
    c.n_points = 2, c.varying_ligand = 1, c.labelled_ligand = competition ? 2 : 1;
    c.total_of(0, c.labelled_ligand) = c.total_of(1, c.labelled_ligand) = 1e-9;
    c.total_of(0, 1) = 1e-10, c.total_of(1, 1) = 1e-8;
    c.bound[0] = 1e-11, c.bound[1] = 5e-10;
    Search_state s = search_state_of(p);
    s.accepted = s.value;
    const Binding_problem problem(curves, p);
    const double before = problem.sum_of_squares(s.trial());
    evaluate(problem, s);
    EXPECT_DOUBLE_EQ(s.ss, before);
    // The same point on other data: the sum of the first problem is not
    // taken for it.
    Curve_table others = curves;
    others[0].bound[1] = 2.0 * c.bound[1];
    const Binding_problem other(others, p);
    Search_state t = s;
    EXPECT_EQ(evaluate(other, t), other.sum_of_squares(s.trial()));
    EXPECT_NE(t.ss, s.ss);
    return s;
  };
  const Search_state exchanged = two_sites(false, -1);
  const std::vector<double> expected = {1e9, 1e8, 5e8, 2e9, 2e-10, 1e-10, 1e-3, 2e-3};
  EXPECT_EQ(std::vector<double>(exchanged.value.begin(), exchanged.value.begin() + 8), expected);
  EXPECT_EQ(exchanged.accepted, exchanged.value);
  EXPECT_EQ(two_sites(false, 4).value[0], 1e8);  // R1 constant
  EXPECT_EQ(two_sites(true, -1).value[0], 1e8);  // a competition curve
}

TEST(Simplex, KeepsTheLowerOfItsBestVertexAndTheSumAtEntry) {
  // One variable; an entry SS below every vertex is handed on.
  One_site_fit f(ex1_truth, {6e8, 1e-10, 0.01, 1.0, 1.0}, {true, false, false, false, false}, 0.03);
  f.state.ss = 1e-300;
  nelder_mead_simplex(*f.problem, f.state, 100);
  EXPECT_NEAR(f.state.value[0] / 1e9, 1.0, 0.05);
  EXPECT_EQ(f.state.ss, 1e-300);
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
    EXPECT_EQ(r.best, c.best) << ::testing::PrintToString(c.f);
    EXPECT_EQ(r.worst, c.worst) << ::testing::PrintToString(c.f);
    EXPECT_EQ(r.second, c.second) << ::testing::PrintToString(c.f);
  }
  // No data: every vertex scores 0, and the spread test stops at the tenth iteration.
  One_site_fit f(ex1_truth, ex1_truth, {true, true, false, false, false});
  f.curves[0].n_points = 0;
  const Simplex_summary summary = nelder_mead_simplex(*f.problem, f.state, 100);
  EXPECT_TRUE(summary.converged) << summary.iterations;
  EXPECT_EQ(summary.iterations, 10);
}

TEST(SequenceGuard, ReturnsToTheBestPointSeenAndUndoesAMarkedlyWorseEnd) {
  One_site_fit f(ex1_truth, ex1_truth, {true, true, true, false, false}, 0.03);
  optimize_fit_simple(*f.problem, f.state, 200);
  const Variables minimum = f.state.value;
  const double ss_min = f.state.ss;
  Best_point best;
  best.consider(*f.problem, f.state);
  f.state.value[0] *= 1.5;
  best.consider(*f.problem, f.state);
  f.state.value[1] = std::nan("");  // a point without a sum is never kept
  EXPECT_TRUE(best.restore_if_better(*f.problem, f.state));
  EXPECT_EQ(f.state.value, minimum);
  EXPECT_EQ(f.state.accepted, minimum);
  EXPECT_EQ(f.state.ss, ss_min);
  EXPECT_FALSE(best.restore_if_better(*f.problem, f.state));  // already there

  // A final refinement that more than doubled the reference SS 10.
  Variables reference{};
  reference[0] = 1e9;
  struct Case {
    double ss;
    bool nan_restores, restored;
  };
  const double nan = std::nan("");
  for (const Case c : {Case{20.0, false, false}, Case{20.5, false, true}, Case{nan, false, false},
                       Case{nan, true, true}, Case{15.0, true, false}}) {
    Search_state s;
    s.n = 1, s.value[0] = s.accepted[0] = 3e9, s.ss = c.ss;
    EXPECT_EQ(restore_if_markedly_worse(s, reference, 10.0, c.nan_restores), c.restored) << c.ss;
    EXPECT_EQ(s.value[0], c.restored ? 1e9 : 3e9);
    EXPECT_EQ(s.accepted[0], s.value[0]);
    if (c.restored) {
      EXPECT_EQ(s.ss, 10.0);
    }
  }
}

}  // namespace
}  // namespace kelvora
