#include "fit/minimisers.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "data/parameter_layout.hpp"
#include "fit/objective.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {
namespace {

// One saturation curve made exactly from K = 1e9, R = 1e-10, N = 0.01, with
// K11, R1 and N1 fitted; the minimum is SS = 0 at those values.
struct Known_minimum {
  explicit Known_minimum(double k, double r, double n) {
    p.n_ligands = p.n_sites = p.n_curves = 1;
    setup_parameter_names(p);
    Curve_data& c = curves[0];
    c.varying_ligand = c.labelled_ligand = 1;
    c.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
    allocate_curve_data(c);
    c.n_points = 10;
    p.n_points = 10;
    Binding_constants truth;
    truth.K[0][0] = 1e9;
    truth.R[0] = 1e-10;
    truth.N[0] = 0.01;
    truth.B[0] = 1.0;
    for (int j = 0; j < 10; ++j) {
      c.total_of(j, 1) = 1e-11 * std::pow(2.5, j);
      c.replicates[j] = 1.0;
      Point_binding out;
      calculate_bound_ligand_general(1, 1, c.total[j].data(), truth, 1.0, out);
      c.bound[j] = out.bound[0];
    }
    p.value[0] = k;
    p.value[1] = r;
    p.value[2] = n;
    setup_variable_map(p, opt);
    p.accepted = p.value;
    evaluate_model(curves, p, opt);
  }
  Curve_table curves;
  Fit_parameters p;
  Optimization_data opt;
};

TEST(LevenbergMarquardt, ConvergesToTheKnownMinimum) {
  Known_minimum m(6e8, 1.5e-10, 0.004);
  const double start = m.opt.ss;
  optimize_fit_simple(m.curves, m.p, m.opt, 200);
  EXPECT_NEAR(m.p.value[0] / 1e9, 1.0, 1e-6);
  EXPECT_NEAR(m.p.value[1] / 1e-10, 1.0, 1e-6);
  EXPECT_NEAR(m.p.value[2] / 0.01, 1.0, 1e-6);
  EXPECT_LT(m.opt.ss, 1e-10 * start);
  // The returned point is the accepted one, and SS belongs to it.
  EXPECT_EQ(m.p.value, m.p.accepted);
  const double reported = m.opt.ss;
  evaluate_model(m.curves, m.p, m.opt);
  EXPECT_DOUBLE_EQ(m.opt.ss, reported);
}

TEST(LevenbergMarquardt, RepairedStepsAreRejectedAndTheBestPointKept) {
  // N close to its lower bound with a data minimum at N = 0.01: a first
  // step may overshoot below zero; whatever happens, the result is never
  // worse than the start and never a repaired trial.
  Known_minimum m(3e9, 3e-11, 1e-7);
  const double start = m.opt.ss;
  optimize_fit_simple(m.curves, m.p, m.opt, 5);
  EXPECT_LE(m.opt.ss, start);
  EXPECT_EQ(m.p.value, m.p.accepted);
}

TEST(Simplex, ApproachesTheMinimumAndReturnsTheBestVertex) {
  Known_minimum m(6e8, 1.5e-10, 0.004);
  const double start = m.opt.ss;
  nelder_mead_simplex(m.curves, m.p, m.opt, 300);
  EXPECT_LT(m.opt.ss, 1e-3 * start);
  EXPECT_NEAR(m.p.value[0] / 1e9, 1.0, 0.05);
  EXPECT_EQ(m.p.value[0], m.p.accepted[0]);
  const double reported = m.opt.ss;
  evaluate_model(m.curves, m.p, m.opt);
  EXPECT_DOUBLE_EQ(m.opt.ss, reported);
}

TEST(Simplex, KeepsConstantsAndTheLowerEntryValue) {
  Known_minimum m(6e8, 1.5e-10, 0.004);
  m.p.is_constant[0] = true;  // K11 held at 6e8
  setup_variable_map(m.p, m.opt);
  m.opt.ss = 1e-300;  // a value no vertex reaches
  nelder_mead_simplex(m.curves, m.p, m.opt, 50);
  EXPECT_EQ(m.p.value[0], 6e8);
  EXPECT_EQ(m.opt.ss, 1e-300);
  EXPECT_NE(m.p.value[1], 1.5e-10);  // the vector holds the best vertex
}

TEST(ApplyCorrections, RepairsByKindAndReportsTheRepair) {
  struct Case {
    const char* name;
    double accepted;
    double step;
    double expected;
    bool ok;
  };
  const Case cases[] = {{"B1", 1.0, -1.0, 1.0, false},       {"B1", 1.0, -0.8, 1.1, false},
                        {"B1", 1.0, 0.5, 1.5, true},         {"C2", 1.0, -0.95, 1.1, false},
                        {"C2", 2.0, -2.0, 1.0, false},       {"K11", 1e9, -1e9, 1e9, false},
                        {"K11", 1e9, -2e9, 1e8, false},      {"N1", 0.01, -0.02, 1e-6, false},
                        {"N1", 0.4, 0.2, 0.25, false},       {"R1", 1e-10, -1e-10, 1e-9, false},
                        {"R1", 1e-10, -3e-10, 1e-11, false}, {"K11", 1e29, 2e30, 1e30, false},
                        {"R1", 1e-10, 1e-10, 2e-10, true}};
  for (const auto& c : cases) {
    Fit_parameters p;
    p.n_params = p.n_var = 1;
    p.name[0] = c.name;
    p.var_map[0] = 0;
    p.accepted[0] = c.accepted;
    Optimization_data opt;
    opt.delta[0] = c.step;
    EXPECT_EQ(apply_corrections(p, opt), c.ok) << c.name << " " << c.step;
    EXPECT_DOUBLE_EQ(p.value[0], c.expected) << c.name << " " << c.step;
  }
}

TEST(Cholesky, FactorisesSolvesAndRefusesIndefiniteMatrices) {
  Variable_matrix a{};
  a[0][0] = 4;
  a[1][0] = 2;
  a[1][1] = 10;
  a[2][0] = -2;
  a[2][1] = 5;
  a[2][2] = 14;
  double det = 0;
  ASSERT_TRUE(cholesky_decomp(3, a, det));
  EXPECT_DOUBLE_EQ(det, 4 * 9 * 9);  // the product of the pivots
  const double b[3] = {6, 27, 22};   // A (1, 2, 1)
  double x[3];
  solve_linear_sys(3, a, b, x);
  EXPECT_NEAR(x[0], 1.0, 1e-14);
  EXPECT_NEAR(x[1], 2.0, 1e-14);
  EXPECT_NEAR(x[2], 1.0, 1e-14);

  Variable_matrix indefinite{};
  indefinite[0][0] = 1;
  indefinite[1][0] = 2;
  indefinite[1][1] = 1;
  EXPECT_FALSE(cholesky_decomp(2, indefinite, det));
  EXPECT_EQ(det, 1e-4);
}

TEST(LevenbergMarquardtStep, FirstTunnelIterationStartsTheDamping) {
  Known_minimum m(6e8, 1.5e-10, 0.004);
  calculate_gradient_hessian(m.curves, m.p, m.opt);
  m.opt.lambda = 0.0;
  m.opt.lm_mode = 1;
  levenberg_marquardt_step(m.p, m.opt);
  EXPECT_EQ(m.opt.lambda, 0.001);
  m.opt.lambda = 0.0;
  m.opt.lm_mode = 0;
  levenberg_marquardt_step(m.p, m.opt);
  EXPECT_EQ(m.opt.lambda, 0.0);
  // The scaled Hessian has a unit diagonal plus the 1e-8 ridge.
  for (int i = 0; i < m.p.n_var; ++i) EXPECT_DOUBLE_EQ(m.opt.alpha[i][i], 1.0 + 1e-8);
}

}  // namespace
}  // namespace kelvora
