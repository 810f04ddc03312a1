#include "fit/objective.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "data/parameter_layout.hpp"
#include "params/parameter_vector.hpp"
#include "util/fields.hpp"

namespace kelvora {
namespace {

// EX1_SAT: one-site saturation data printed to 7 digits from Kd = 1 nM and
// R = 0.1 nM, weights 0, 0, 0.001, 0, 0, three replicates per point.
constexpr double ex1_total[12] = {1e-11, 2.5e-11, 5e-11, 1e-10, 2.5e-10, 5e-10,
                                  1e-9,  2.5e-9,  5e-9,  1e-8,  1.5e-8,  2e-8};
constexpr double ex1_bound[12] = {9.016333E-13, 2.226629E-12, 4.364389E-12, 8.392022E-12,
                                  1.877976E-11, 3.188543E-11, 4.875078E-11, 7.083835E-11,
                                  8.309926E-11, 9.083340E-11, 9.371318E-11, 9.521641E-11};

struct One_curve_analysis {
  One_curve_analysis() {
    Curve_data& c = curves[0];
    c.file_name = "EX1_SAT";
    c.varying_ligand = c.labelled_ligand = 1;
    c.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
    allocate_curve_data(c);
    c.n_points = 12;
    for (int j = 0; j < 12; ++j) {
      c.total_of(j, 1) = ex1_total[j];
      c.bound[j] = ex1_bound[j];
      c.replicates[j] = 3.0;
    }
    params.n_ligands = params.n_sites = params.n_curves = 1;
    params.n_points = 12;
    setup_parameter_names(params);
    params.value[k_slot(params, 1, 1)] = 1e9;
    params.value[r_slot(params, 1)] = 1e-10;
    params.value[n_slot(params, 1)] = 0.0;
    setup_variable_map(params, opt);
  }
  Curve_table curves;
  Fit_parameters params;
  Optimization_data opt;
};

TEST(EvaluateModel, ReproducesTheExampleSaturationCurve) {
  One_curve_analysis a;
  evaluate_model(a.curves, a.params, a.opt);
  for (int j = 0; j < 12; ++j) {
    EXPECT_EQ(fmt_es(a.curves[0].predicted[j], 14, 6), fmt_es(ex1_bound[j], 14, 6)) << j;
    EXPECT_DOUBLE_EQ(a.curves[0].residual[j], ex1_bound[j] - a.curves[0].predicted[j]);
  }
  EXPECT_LT(a.opt.ss, 1e-8);
  EXPECT_GT(a.opt.ss, 0.0);
}

TEST(EvaluateModel, NegativeValuesArePenalisedAndReflected) {
  One_curve_analysis a;
  a.params.value[k_slot(a.params, 1, 1)] = 5e8;  // away from the data's optimum
  evaluate_model(a.curves, a.params, a.opt);
  const double unpenalised = a.opt.ss;
  a.params.value[r_slot(a.params, 1)] = -1e-10;
  evaluate_model(a.curves, a.params, a.opt);
  EXPECT_EQ(a.params.value[r_slot(a.params, 1)], 1e-10);
  EXPECT_DOUBLE_EQ(a.opt.ss, 1000001.0 * unpenalised);

  a.params.value[n_slot(a.params, 1)] = -0.1;
  evaluate_model(a.curves, a.params, a.opt);
  EXPECT_EQ(a.params.value[n_slot(a.params, 1)], 0.1);
}

TEST(EvaluateModel, VariableParametersAreKeptInsideTheirBounds) {
  One_curve_analysis a;
  a.params.value[k_slot(a.params, 1, 1)] = 1e14;
  a.params.value[r_slot(a.params, 1)] = 1e-5;
  evaluate_model(a.curves, a.params, a.opt);
  const double at_bounds = a.opt.ss;
  a.params.value[k_slot(a.params, 1, 1)] = 1e15;
  a.params.value[r_slot(a.params, 1)] = 1e-3;
  evaluate_model(a.curves, a.params, a.opt);
  EXPECT_EQ(a.params.value[k_slot(a.params, 1, 1)], 1e14);
  EXPECT_EQ(a.params.value[r_slot(a.params, 1)], 1e-5);
  // The sum belongs to the repaired vector.
  EXPECT_EQ(a.opt.ss, at_bounds);

  a.params.is_constant[k_slot(a.params, 1, 1)] = true;
  setup_variable_map(a.params, a.opt);
  a.params.value[k_slot(a.params, 1, 1)] = 1e15;
  evaluate_model(a.curves, a.params, a.opt);
  EXPECT_EQ(a.params.value[k_slot(a.params, 1, 1)], 1e15);
}

TEST(ParameterBounds, ClampByTheFirstLetterOfTheName) {
  struct Case {
    const char* name;
    double value;
    double expected;
  };
  const Case cases[] = {{"K11", 1e4, 1e5},  {"K12", 2e14, 1e14}, {"R1", 1e-15, 1e-14},
                        {"R2", 1e-4, 1e-5}, {"N1", -0.1, 0.0},   {"N2", 0.7, 0.5},
                        {"C3", 0.01, 0.1},  {"C1", 20.0, 10.0},  {"B1", 0.1, 0.25},
                        {"B2", 5.0, 4.0},   {"B1", 1.5, 1.5},    {"X1", -9.0, -9.0}};
  for (const auto& c : cases) {
    Fit_parameters p;
    p.name[0] = c.name;
    p.value[0] = c.value;
    enforce_parameter_bounds(p, 0);
    EXPECT_EQ(p.value[0], c.expected) << c.name;
  }
  Fit_parameters p;
  p.name[0] = "K11";
  p.value[0] = std::nan("");
  enforce_parameter_bounds(p, 0);
  EXPECT_TRUE(std::isnan(p.value[0]));
}

TEST(ComputeWeight, FollowsTheCoefficientsAndReplicates) {
  const double y = 2e-11;
  EXPECT_DOUBLE_EQ(compute_weight(y, {0, 0, 0.001, 0, 0}, 3.0), 3.0 / (0.001 * y * y));
  EXPECT_DOUBLE_EQ(compute_weight(y, {0, 1, 0, 0, 0}, 0.0), 1.0 / y);
  EXPECT_DOUBLE_EQ(compute_weight(y, {0, 1, 0, 0, 0}, -2.0), 1.0 / y);
  EXPECT_DOUBLE_EQ(compute_weight(y, {0, 0, 0, 1, 1.5}, 1.0), 1.0 / std::pow(y, 1.5));
  EXPECT_DOUBLE_EQ(compute_weight(-y, {0, 0, 0, 2, 2}, 1.0), 1.0 / (2 * y * y));
  EXPECT_DOUBLE_EQ(compute_weight(y, {1, 0, 0, 0, 0}, 1.0), 1.0);
  // A denominator of 0, below zero or not a number is floored at 1e-30.
  EXPECT_DOUBLE_EQ(compute_weight(0.0, {0, 0, 0.001, 0, 0}, 3.0), 3e30);
  EXPECT_DOUBLE_EQ(compute_weight(-1.0, {0, 1, 0, 0, 0}, 1.0), 1e30);
  EXPECT_DOUBLE_EQ(compute_weight(std::nan(""), {0, 1, 0, 0, 0}, 1.0), 1e30);
}

TEST(EvaluateModel, ZeroPredictionWithRelativeWeightsStaysFinite) {
  One_curve_analysis a;
  a.params.value[r_slot(a.params, 1)] = 0.0;  // nothing binds: every prediction is 0
  a.params.is_constant[r_slot(a.params, 1)] = true;
  setup_variable_map(a.params, a.opt);
  evaluate_model(a.curves, a.params, a.opt);
  EXPECT_EQ(a.curves[0].predicted[0], 0.0);
  EXPECT_TRUE(std::isfinite(a.opt.ss));
}

TEST(KConstraintsBarrier, PushesSecondSitesBelowFirstWithTwoLigandsAndSites) {
  Fit_parameters p;
  p.n_ligands = p.n_sites = 2;
  p.n_curves = 1;
  setup_parameter_names(p);
  p.value[0] = 1e9;  // K11
  p.value[1] = 1e8;  // K12
  p.value[2] = 1e9;  // K21
  p.value[3] = 1e9;  // K22, equal to K21: halved
  apply_k_constraints_barrier(p);
  EXPECT_DOUBLE_EQ(p.value[1], 1e8 * (1 + std::tanh(1.8)) / 2);
  EXPECT_DOUBLE_EQ(p.value[3], 0.5e9);

  Fit_parameters one_ligand;
  one_ligand.n_ligands = 1;
  one_ligand.n_sites = 2;
  one_ligand.n_curves = 1;
  setup_parameter_names(one_ligand);
  one_ligand.value[0] = 1e9;
  one_ligand.value[1] = 1e8;
  apply_k_constraints_barrier(one_ligand);
  EXPECT_EQ(one_ligand.value[1], 1e8);
}

}  // namespace
}  // namespace kelvora
