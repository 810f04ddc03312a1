#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "data/parameter_layout.hpp"
#include "model/curve_predictions.hpp"

namespace kelvora {
namespace {

TEST(Weights, FollowTheCoefficientsAndReplicates) {
  const double y = 2e-11;
  EXPECT_DOUBLE_EQ(compute_weight(y, {0, 0, 0.001, 0, 0}, 3.0), 3.0 / (0.001 * y * y));
  EXPECT_DOUBLE_EQ(compute_weight(-y, {0, 0, 0, 1, 1.5}, 0.0), 1.0 / std::pow(y, 1.5));
  // A denominator of 0, below zero or not a number is floored at 1e-30.
  EXPECT_DOUBLE_EQ(compute_weight(0.0, {0, 0, 0.001, 0, 0}, 3.0), 3e30);
  EXPECT_DOUBLE_EQ(compute_weight(std::nan(""), {0, 1, 0, 0, 0}, -2.0), 1e30);
}

TEST(Weights, LogSlopeOfTheVarianceIsMinusThatOfTheWeight) {
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

// The curve-wise evaluation must give each point's prediction exactly as
// the point model does, whichever path the curve takes: the one-site closed
// form (with an overflowing root left to the iteration), two sites or
// cooperativity, constants outside the domain, a second ligand present.
TEST(CurvePredictions, AreThePointModelsBitForBit) {
  struct Case {
    int n_ligands, n_sites;
    double K, N, B, other;  // other: ligand 2's total on every third point
  };
  const Case cases[] = {{1, 1, 1e9, 1e-3, 1.0, 0.0}, {1, 1, 1e300, 0.0, 1.0, 0.0},
                        {1, 1, 1e9, -0.1, 1.0, 0.0}, {1, 2, 1e9, 2e-3, 1.0, 0.0},
                        {1, 1, 1e9, 1e-3, 2.5, 0.0}, {2, 1, 3e8, 1e-3, 1.0, 0.0},
                        {2, 2, 3e8, 1e-3, 0.5, 2e-9}};
  for (const Case& c : cases) {
    Curve_table curves;
    Curve_data& curve = curves[0];
    allocate_curve_data(curve);
    curve.varying_ligand = curve.labelled_ligand = 1;
    curve.weight_coef = {1e-24, 0, 0.001, 0.5, 1.5};
    curve.n_points = 300;  // more than one block of points
    for (int j = 0; j < curve.n_points; ++j) {
      curve.total[j][0] = j % 50 == 7 ? 0.0 : 1e-13 * std::pow(1e7, j / 299.0);
      if (j % 3 == 0) curve.total[j][1] = c.other;
      curve.bound[j] = 0.3 * curve.total[j][0];
      curve.replicates[j] = j % 2 ? 3.0 : 0.0;
    }
    Fit_parameters p;
    p.n_ligands = c.n_ligands;
    p.n_sites = c.n_sites;
    p.n_curves = 1;
    for (int l = 1; l <= p.n_ligands; ++l) {
      for (int s = 1; s <= p.n_sites; ++s) p.value[k_slot(p, l, s)] = c.K / s / l;
      p.value[n_slot(p, l)] = c.N;
    }
    for (int s = 1; s <= p.n_sites; ++s) {
      p.value[r_slot(p, s)] = 2e-10 * s;
      p.value[b_slot(p, s)] = c.B;
    }
    p.value[c_slot(p, 1)] = 1.2;
    const Binding_constants k = binding_constants(p);
    const Curve_prediction got = predict_curves(curves, p)[0];
    double ss = 0.0;
    for (int j = 0; j < curve.n_points; ++j) {
      Point_binding point;
      calculate_binding_unified(curve, p, j, k, 1.2, point);
      const double want = point.bound[0];
      ASSERT_EQ(std::memcmp(&got.predicted[j], &want, sizeof want), 0)
          << "case K " << c.K << " N " << c.N << " B " << c.B << " point " << j;
      ss += got.residual[j] * got.residual[j] * got.weight[j];
    }
    EXPECT_EQ(curve_sum_of_squares(curve, p, plan_curve(curve, p), k, 1.2), ss);
  }
}

}  // namespace
}  // namespace kelvora
