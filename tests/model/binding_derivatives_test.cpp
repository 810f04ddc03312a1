#include <gtest/gtest.h>

#include <cmath>

#include "binding_reference.hpp"
#include "model/binding_derivatives.hpp"
#include "support/records.hpp"

namespace kelvora {
namespace {

// One point of a curve on which ligand 1 is labelled. Kinds: 0 one ligand;
// 1 saturation with ligand 2 present; 2 competition, ligand 2 varying;
// 3 competition at a competitor total of 0. Constants of a second site are
// set even when the model has one, so that they are seen not to enter.
struct Point {
  Curve_data curve;
  Fit_parameters params;
  Binding_constants k;
  double C = 1.0;
  bool competition = false;
};

Point sample(reference::Box_sampler& sampler, int kind, int n_sites) {
  const auto p = sampler.sample(kind == 0 ? 1 : 2, 2);
  Point pt;
  pt.params.n_ligands = p.n_ligands;
  pt.params.n_sites = n_sites;
  pt.k = reference::constants_of(p);
  pt.C = static_cast<double>(p.C);
  pt.competition = kind >= 2;
  pt.curve = testing::make_curve(pt.competition ? 2 : 1, 1, 1);
  pt.curve.total[0] = {static_cast<double>(p.total[0]), static_cast<double>(p.total[1])};
  // A competition curve holds its labelled ligand near the receptor's range.
  if (pt.competition)
    pt.curve.total[0][0] = (pt.k.R[0] + pt.k.R[1]) * sampler.log_uniform(1e-2, 1e3);
  if (kind == 3) pt.curve.total[0][1] = 0.0;
  return pt;
}

double solved_bound(const Point& pt, const Binding_constants& k, double C) {
  Point_binding b;
  calculate_binding_unified(pt.curve, pt.params, 0, k, C, pt.competition, b);
  return b.bound[0];
}

class BoundDerivatives : public ::testing::TestWithParam<std::tuple<int, int>> {};

// The reference slope is a central difference of the solved bound (one-sided,
// second order, where the step would make the value negative) at steps of
// 1e-2 to 1e-7 times the value (or 1), keeping the estimate that agrees best
// with the one at ten times its step: there truncation (~h^2) and solver
// rounding (~1e-13 / h relative) are both small. A fixed step fails near the
// titration point of a tight binder (total near C R), where the bound bends
// within 1e-5 of R or C. The tolerance, 1e-6 relative to max(|d|, |bound| /
// |value|), is about a hundred times the agreement seen. Only points with a
// labelled bound fraction in [1e-7, 1 - 1e-7] are compared: beyond it the
// bound is flat at 0 or at the total and its slopes have too few digits.
TEST_P(BoundDerivatives, MatchCentralDifferencesAndKeepTheSolvedBound) {
  const auto [kind, n_sites] = GetParam();
  reference::Box_sampler sampler(100 * kind + n_sites);
  int checked = 0;
  for (int i = 0; i < 400 && !HasFailure(); ++i) {
    Point pt = sample(sampler, kind, n_sites);
    const double bound = solved_bound(pt, pt.k, pt.C);
    Bound_derivatives d;
    calculate_bound_derivatives(pt.curve, pt.params, 0, pt.k, pt.C, pt.competition, d);
    EXPECT_EQ(d.bound, bound);  // the very value of the solver, on every point
    if (!(bound >= 1e-7 * pt.curve.total[0][0] && bound <= (1 - 1e-7) * pt.curve.total[0][0]))
      continue;
    ++checked;
    Binding_constants k = pt.k;
    double C = pt.C;
    auto check = [&](double& value, double analytical, const char* name) {
      const double x = value, scale = x != 0.0 ? std::abs(x) : 1.0;
      auto at = [&](double offset) {
        value = x + offset;
        const double b = solved_bound(pt, k, C);
        value = x;
        return b;
      };
      double numerical = 0.0, best = HUGE_VAL, previous = 0.0;
      for (double h = 1e-2 * scale; h > 1e-8 * scale; h *= 0.1) {
        const double estimate = x - h >= 0.0 ? (at(h) - at(-h)) / (2 * h)
                                             : (4 * at(h) - at(2 * h) - 3 * bound) / (2 * h);
        if (h < 1e-2 * scale && std::abs(estimate - previous) < best)
          best = std::abs(estimate - previous), numerical = estimate;
        previous = estimate;
      }
      EXPECT_NEAR(analytical, numerical, 1e-6 * std::max(std::abs(analytical), bound / scale))
          << name << " point " << i << " value " << x;
    };
    for (int j = 0; j < 2; ++j) {
      for (int s = 0; s < 2; ++s) check(k.K[j][s], d.dK[j][s], "K");
      check(k.N[j], d.dN[j], "N");
      check(k.R[j], d.dR[j], "R");
      check(k.B[j], d.dB[j], "B");
    }
    check(C, d.dC, "C");
  }
  EXPECT_GT(checked, 100);
}

INSTANTIATE_TEST_SUITE_P(KindsAndSites, BoundDerivatives,
                         ::testing::Combine(::testing::Range(0, 4), ::testing::Values(1, 2)));

}  // namespace
}  // namespace kelvora
