#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "fit/objective.hpp"
#include "fit/quasi_newton.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {
namespace {

// Minimum 0 at (1, ..., 1).
double rosenbrock(const double* x, int n) {
  double f = 0.0;
  for (int i = 0; i + 1 < n; ++i)
    f += 100.0 * std::pow(x[i + 1] - x[i] * x[i], 2) + std::pow(1.0 - x[i], 2);
  return f;
}

Quasi_newton_result minimise(const Objective_callback& f, std::vector<double>& x,
                             std::vector<std::string>* lines = nullptr,
                             const Quasi_newton_options& options = {}) {
  const Message_callback keep = [lines](std::string_view line) {
    if (lines) lines->emplace_back(line);
  };
  return quasi_newton_minimise(f, x, process_random(), keep, options);
}

TEST(QuasiNewton, ReachesTheMinimumOfRosenbrockFunctions) {
  // The gradients are differences with steps of 1e-3 and 1e-4 of the scaled
  // variables; on this curved valley that limits x to about 1e-3.
  std::vector<double> x{-1.2, 1.0};
  Quasi_newton_result r = minimise(rosenbrock, x);
  EXPECT_EQ(r.status, qn_status::converged);
  EXPECT_EQ(r.f_best, rosenbrock(x.data(), 2));  // f_best belongs to the returned x
  EXPECT_LT(r.f_best, 1e-8);
  for (const double v : x) EXPECT_NEAR(v, 1.0, 1e-3);

  // In 10-D two passes of 200 evaluations (each may overrun by one central
  // gradient, 2n) lower f but do not converge; 3000 a pass do.
  std::vector<double> start(10), y;
  for (int i = 0; i < 10; ++i) start[i] = i % 2 == 0 ? -1.2 : 1.0;
  r = minimise(rosenbrock, y = start);
  EXPECT_EQ(r.status, qn_status::not_converged);
  EXPECT_LT(r.f_best, 0.2 * rosenbrock(start.data(), 10));
  EXPECT_LE(r.evaluations, 1 + 2 * (200 + 20) + 11);
  Quasi_newton_options longer;
  longer.pass_evaluations = 3000;
  r = minimise(rosenbrock, y = start, nullptr, longer);
  EXPECT_EQ(r.status, qn_status::converged);
  EXPECT_LT(r.f_best, 1e-5);
  for (const double v : y) EXPECT_NEAR(v, 1.0, 3e-3);
}

TEST(QuasiNewton, ScalesEachVariableByItsStartingMagnitude) {
  // Variables of size 1e-9 and 1e3 (1e12 apart) and one starting at 0:
  // f = 1 + u^2 + (u - v)^2 + 10 w^2, u = x0/1e-9 - 2, v = x1/1e3 - 3,
  // w = x2 - 0.5, minimum 1 at (2e-9, 3e3, 0.5). Central differences are
  // exact on a quadratic, so the minimum is reached to rounding.
  const auto quadratic = [](const double* x, int) {
    const double u = x[0] / 1e-9 - 2.0, v = x[1] / 1e3 - 3.0, w = x[2] - 0.5;
    return 1.0 + u * u + (u - v) * (u - v) + 10.0 * w * w;
  };
  std::vector<double> x{1e-9, 1e3, 0.0};
  const Quasi_newton_result r = minimise(quadratic, x);
  EXPECT_EQ(r.status, qn_status::converged);
  EXPECT_NEAR(r.f_best, 1.0, 1e-12);
  EXPECT_NEAR(x[0] / 2e-9, 1.0, 1e-6);
  EXPECT_NEAR(x[1] / 3e3, 1.0, 1e-6);
  EXPECT_NEAR(x[2], 0.5, 1e-6);

  // After the start and the first point of the pass, the forward gradient
  // steps each variable by 1e-3 of its scale: |x_i|, or 1 below 1e-15.
  const std::vector<double> start{1e9, -1e-10, 0.01, 0.0, 1e-16};
  std::vector<std::vector<double>> calls;
  const auto record = [&calls](const double* v, int n) {
    calls.emplace_back(v, v + n);
    return 1.0;
  };
  minimise(record, x = start);
  for (int i = 0; i < 5; ++i) {
    const double scale = std::abs(start[i]) < 1e-15 ? 1.0 : std::abs(start[i]);
    EXPECT_NEAR((calls[i + 2][i] - start[i]) / scale, 0.001, 1e-9) << i;
  }
}

TEST(QuasiNewton, RefusesUnusableStartsAndResults) {
  std::vector<std::string> lines;
  std::vector<double> x{1.0, std::nan("")};
  EXPECT_EQ(minimise(rosenbrock, x, &lines).status, qn_status::error);
  x = {2e15};
  EXPECT_EQ(minimise(rosenbrock, x, &lines).status, qn_status::error);
  const auto huge = [](const double*, int) { return 2e15; };
  EXPECT_EQ(minimise(huge, x = {1.0}, &lines).status, qn_status::error);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"CG ERROR: Invalid input parameters (NaN or too large)",
                                      "CG ERROR: Invalid input parameters (NaN or too large)",
                                      "CG ERROR: Initial SSQR invalid (NaN or too large)"}));
  // Unbounded below: the search runs away past |y| = 1e10 and the start stays.
  const auto slope = [](const double* v, int) { return -v[0]; };
  const Quasi_newton_result r = minimise(slope, x = {3.0}, &lines);
  EXPECT_TRUE(r.status == qn_status::error && r.f_best == -3.0 && x[0] == 3.0);
  EXPECT_EQ(lines.size(), 3u);
}

TEST(QuasiNewton, TwoRunsAgreeWhateverTheGeneratorHeld) {
  std::vector<double> a{-1.2, 1.0}, b = a;
  const Quasi_newton_result first = minimise(rosenbrock, a);
  process_random().seed_from_clock();
  process_random().uniform();
  const Quasi_newton_result second = minimise(rosenbrock, b);
  EXPECT_EQ(first.passes, 2);  // the polish ran
  EXPECT_EQ(a, b);
  EXPECT_EQ(first.evaluations, second.evaluations);
}

}  // namespace
}  // namespace kelvora
