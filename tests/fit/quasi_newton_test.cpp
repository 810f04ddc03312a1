#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <vector>

#include "fit/binding_problem.hpp"
#include "fit/minimisers.hpp"
#include "fit/quasi_newton.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"
#include "support/saturation_curves.hpp"
#include "support/session_random.hpp"

namespace kelvora {
namespace {

// Minimum 0 at (1, ..., 1).
double rosenbrock(const double* x, int n) {
  double f = 0.0;
  for (int i = 0; i + 1 < n; ++i)
    f += 100.0 * std::pow(x[i + 1] - x[i] * x[i], 2) + std::pow(1.0 - x[i], 2);
  return f;
}

// The generator of the minimisations below; each polish seeds it with the
// fixed seed, as the program does.
Random_generator& shared_generator() {
  static Random_generator generator;
  return generator;
}

Quasi_newton_result minimise(const Objective_callback& f, std::vector<double>& x,
                             std::vector<std::string>* lines = nullptr,
                             const Quasi_newton_options& options = {}) {
  static std::vector<std::string> ignored;
  const Message_callback keep = [&](std::string_view line) {
    (lines ? lines : &ignored)->emplace_back(line);
  };
  const Seeding fixed = [](Random_generator& g) { g.seed_fixed(); };
  return quasi_newton_minimise(f, x, shared_generator(), fixed, keep, options);
}

TEST(QuasiNewton, ReachesRosenbrocksMinimumAndRepeatsItsPolish) {
  // The gradients are differences with steps of 1e-3 and 1e-4 of the scaled
  // variables; on this curved valley that limits x to about 1e-3.
  std::vector<double> x{-1.2, 1.0}, again = x;
  Quasi_newton_result r = minimise(rosenbrock, x);
  EXPECT_TRUE(r.status == qn_status::converged);
  EXPECT_TRUE(r.passes == 2);
  EXPECT_TRUE(r.f_best < 1e-8);
  EXPECT_EQ(r.f_best, rosenbrock(x.data(), 2));  // f_best belongs to the returned x
  for (const double v : x) EXPECT_NEAR(v, 1.0, 1e-3);
  // Each polish starts with the caller's seeding, so a second run agrees
  // whatever the generator held.
  shared_generator().seed_from_clock();
  EXPECT_TRUE(minimise(rosenbrock, again).evaluations == r.evaluations);
  EXPECT_TRUE(again == x);
}

TEST(QuasiNewton, ScalesEachVariableByItsStartingMagnitude) {
  // Variables of size 1e-9 and 1e3 (1e12 apart), one starting at 0, and
  // curvatures 1 to 1e9 apart that the corrections must learn:
  // f = 1 + u^2 + 1e3 (u - v)^2 + 1e6 (v - w)^2 + 1e9 (w - z)^2, u = x0/1e-9 - 2,
  // v = x1/1e3 - 3, w = x2 - 0.5, z = x3 - 1.5; minimum 1 at (2e-9, 3e3, 0.5, 1.5).
  // Central differences are exact on a quadratic up to rounding.
  const auto quadratic = [](const double* x, int) {
    const double u = x[0] / 1e-9 - 2.0, v = x[1] / 1e3 - 3.0, w = x[2] - 0.5, z = x[3] - 1.5;
    return 1.0 + u * u + 1e3 * (u - v) * (u - v) + 1e6 * (v - w) * (v - w) +
           1e9 * (w - z) * (w - z);
  };
  std::vector<double> x{1e-9, 1e3, 0.0, 1.0};
  const Quasi_newton_result r = minimise(quadratic, x);
  EXPECT_EQ(r.status, qn_status::converged);
  EXPECT_NEAR(r.f_best, 1.0, 1e-12);
  const double minimum[4] = {2e-9, 3e3, 0.5, 1.5};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(x[i] / minimum[i], 1.0, 1e-6) << i;
}

TEST(QuasiNewton, RefusesUnusableStartsAndResults) {
  std::vector<std::string> lines;
  std::vector<double> x;
  for (const double bad : {std::nan(""), -2e15})
    EXPECT_EQ(minimise(rosenbrock, x = {1.0, bad}, &lines).status, qn_status::error);
  const std::string invalid = "CG ERROR: Invalid input parameters (NaN or too large)";
  EXPECT_EQ(lines, (std::vector<std::string>{invalid, invalid}));
  // Unbounded below: the search runs away past |y| = 1e10 and the start stays.
  const auto slope = [](const double* v, int) { return -v[0]; };
  const Quasi_newton_result r = minimise(slope, x = {3.0}, &lines);
  EXPECT_TRUE(r.status == qn_status::error);
  EXPECT_TRUE(r.f_best == -3.0);
  EXPECT_TRUE(x[0] == 3.0);
  EXPECT_TRUE(lines.size() == 2);
}

// One saturation curve (K11 R1 N1 C1 B1) from K `k_true`, R 1e-10, N 0.01
// (support/saturation_curves.hpp), times 1 + 0.03 (fixed deviates), weights by `a`,
// three replicates; the first start.size() slots variable, starting at `start`.
struct Saturation_fit {
  Saturation_fit(double k_true, const std::vector<double>& start,
                 const std::array<double, n_weight_coefs>& a = {0.0, 0.0, 0.001, 0.0, 0.0}) {
    constexpr double noise[12] = {0.5, -1.2, 0.8, 1.5, -0.3, -0.9, 0.2, 1.1, -1.6, 0.4, -0.7, 0.9};
    double relative_error[12];
    for (int j = 0; j < 12; ++j) relative_error[j] = 0.03 * noise[j];
    p.n_ligands = p.n_sites = p.n_curves = 1;
    setup_parameter_names(p);
    testing::fill_saturation_curve(curves[0], testing::one_site_constants(k_true, 1e-10, 0.01), 1.0,
                                   relative_error);
    curves[0].weight_coef = a;
    p.n_points = 12;
    p.value = {1e9, 1e-10, 0.01, 1.0, 1.0};
    for (int s = 0; s < 5; ++s) p.is_constant[s] = s >= static_cast<int>(start.size());
    std::copy(start.begin(), start.end(), p.value.begin());
    setup_variable_map(p);
    p.accepted = p.value;
    problem = std::make_unique<Binding_problem>(curves, p);
    state = search_state_of(p);
  }
  double ss_of_values() const { return problem->sum_of_squares(state.trial()); }
  Quasi_newton_result run() { return va10_cg(console, *problem, state, rng.random); }
  testing::Session_random rng{std::nullopt};
  Curve_table curves;
  Fit_parameters p;
  std::unique_ptr<Binding_problem> problem;
  Search_state state;
  std::istringstream in;
  std::ostringstream out;
  Console console{in, out};
};

TEST(Va10Cg, KeepsAStartThatCannotBeLoweredAndTakesAnImprovement) {
  // Data made with K 3e14, beyond the upper bound 1e14 of K: from K = 1e14
  // every larger K is clamped back and every smaller one fits worse.
  Saturation_fit stuck(3e14, {1e14});
  const double ss0 = stuck.ss_of_values();
  Quasi_newton_result r = stuck.run();
  EXPECT_TRUE(r.status != qn_status::error);
  EXPECT_TRUE(stuck.out.str().empty());
  EXPECT_EQ(stuck.state.value[0], 1e14);
  EXPECT_EQ(stuck.state.accepted[0], 1e14);
  EXPECT_DOUBLE_EQ(stuck.state.ss, 1.05 * ss0);
  // Every sum computed is counted; a point met again is not computed again.
  EXPECT_GT(stuck.state.evaluations, 1);
  EXPECT_LT(stuck.state.evaluations, 1 + r.evaluations);

  // From a start off the noisy data's minimum, the minimum that the
  // Levenberg-Marquardt fit finds is reached; the values, the accepted values
  // and SS / 1.05 belong together.
  Saturation_fit off(1e9, {6e8, 1.5e-10, 0.004}), lm(1e9, {6e8, 1.5e-10, 0.004});
  evaluate(*lm.problem, lm.state);
  optimize_fit_simple(*lm.problem, lm.state, 200);
  r = off.run();
  EXPECT_NEAR(r.f_best / lm.ss_of_values(), 1.0, 1e-6);
  EXPECT_DOUBLE_EQ(off.state.ss, 1.05 * off.ss_of_values());
  EXPECT_EQ(off.state.accepted, off.state.value);
}

TEST(Va10Cg, RestoresTheStartAfterAnError) {
  // Weights of 3e30 make SS at a poor start exceed 1e15.
  Saturation_fit f(1e9, {1e13, 1e-7}, {1e-30, 0.0, 0.0, 0.0, 0.0});
  const Variables before = f.state.value;
  const double ss0 = f.ss_of_values();
  EXPECT_EQ(f.run().status, qn_status::error);
  EXPECT_EQ(f.out.str(),
            "CG ERROR: Initial SSQR invalid (NaN or too large)\n"
            "CG optimization skipped (unstable for this data)\n");
  EXPECT_EQ(f.state.value, before);
  EXPECT_DOUBLE_EQ(f.state.ss, 1.05 * ss0);
}

}  // namespace
}  // namespace kelvora
