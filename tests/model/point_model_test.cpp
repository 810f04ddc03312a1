#include <gtest/gtest.h>

#include "binding_reference.hpp"
#include "model/binding_model.hpp"
#include "support/saturation_curves.hpp"

namespace kelvora {
namespace {

using reference::Problem;

// Free and bound must match the reference to 1e-9 relative wherever every
// bound fraction lies in [1e-7, 1 - 1e-7].
constexpr double tolerance = 1e-9;

// Counts the points of the accuracy domain and fails on the first that is
// off; the reference is solved afresh, the solver's answer only a hint.
int expect_accurate(const Problem& p, const Point_binding& got) {
  const auto want = reference::solve(p, got.free);
  if (!reference::in_accuracy_domain(p, want)) return 0;
  const double error = reference::worst_error(p, got, want);
  EXPECT_LE(error, tolerance) << "totals " << double(p.total[0]) << " " << double(p.total[1]);
  return 1;
}

struct Shape {
  int n_ligands;
  int n_sites;
  int n_points;
};

class GeneralSolverAccuracy : public ::testing::TestWithParam<Shape> {};

// Two ligands on two sites is where Newton's method meets badly scaled
// Jacobians, so it gets enough points to see a failure rate of 1 in 1e4.
TEST_P(GeneralSolverAccuracy, MatchesTheReferenceOverTheParameterBox) {
  const auto shape = GetParam();
  reference::Box_sampler sampler(1000 * shape.n_ligands + shape.n_sites);
  int checked = 0;
  for (int i = 0; i < shape.n_points && !HasFailure(); ++i) {
    const auto p = sampler.sample(shape.n_ligands, shape.n_sites);
    checked += expect_accurate(p, reference::run_general(p));
  }
  EXPECT_GT(checked, shape.n_points / 2);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GeneralSolverAccuracy,
                         ::testing::Values(Shape{1, 1, 3000}, Shape{1, 2, 3000}, Shape{2, 1, 20000},
                                           Shape{2, 2, 100000}));

TEST(GeneralSolver, SolvesPointsWhereNewtonStalls) {
  // Badly scaled two-site points (affinities and receptor concentrations
  // spread over orders of magnitude, cooperative sites) on which Newton's
  // method alone stalls far from the solution.
  Problem p;
  p.n_ligands = p.n_sites = 2;
  const double cases[3][13] = {
      {2.5469118029417749e-10, 3.9534854030481487e-07, 48575246706.151939, 8070073.2028197031,
       9611531898756.7773, 769875.58920067362, 3.3635350224431418e-07, 1.3433359700919261e-06,
       2.6318679050739906, 1.0969938269241164, 0, 0.33788879187798532, 0.89403173415266535},
      {4.4793163420198111e-06, 4.8588532925233294e-08, 88369783048929.797, 1850377.1667390787,
       1089481650.9974673, 24621741.667329751, 1.8734293397723837e-06, 7.2040128763235392e-06,
       1.6945096276383775, 0.40673645247529822, 0.010527465884082038, 0, 1.509702957737723},
      {2.0569538059480162e-06, 1.396093327865638e-08, 190856.67902306074, 26477544009291.047,
       10376131859.937195, 12287935891702.355, 3.4301400908138584e-06, 8.4387409881521205e-08,
       2.4025710509980098, 2.3582594612297774, 0.00013815948768458621, 0.37922158782637255,
       8.5595326202273014}};
  for (const auto& c : cases) {
    int i = 0;
    for (auto* x : {&p.total[0], &p.total[1], &p.K[0][0], &p.K[0][1], &p.K[1][0], &p.K[1][1],
                    &p.R[0], &p.R[1], &p.B[0], &p.B[1], &p.N[0], &p.N[1], &p.C})
      *x = c[i++];
    EXPECT_EQ(expect_accurate(p, reference::run_general(p)), 1);
  }
}

TEST(GeneralSolver, OneSiteMatchesTheClosedForm) {
  // One ligand, one site, B = 1:
  //   K(1 + CN) F^2 + (1 + CN + C K R - K T) F - T = 0,
  // across bound fractions from about 1e-7 to 1 - 1e-7.
  for (const double kr : {1e-3, 1.0, 1e4, 1e9}) {
    for (const double t_over_r : {1e-4, 1.0, 1e2, 1e7}) {
      for (const double n : {0.0, 0.5}) {
        const double c = 2.0, r = 1e-10, k = kr / r, t = t_over_r * r;
        using real = long double;
        const real ns = 1 + real(c) * n, a = k * ns, b = ns + real(c) * k * r - real(k) * t;
        const real root = std::sqrt(b * b + 4 * a * t);
        const real f = b >= 0 ? 2 * t / (b + root) : (root - b) / (2 * a);
        const real bound = t - f;
        if (bound / t < 1e-7L || bound / t > 1 - 1e-7L) continue;
        Problem p;
        p.K[0][0] = k, p.R[0] = r, p.N[0] = n, p.C = c, p.total[0] = t;
        const Point_binding got = reference::run_general(p);
        EXPECT_NEAR(got.free[0] / static_cast<double>(f), 1.0, tolerance) << kr << " " << t;
        EXPECT_NEAR(got.bound[0] / static_cast<double>(bound), 1.0, tolerance) << kr << " " << t;
      }
    }
  }
}
TEST(GeneralSolver, SpecialCasesOfTheModel) {
  Binding_constants k = testing::one_site_constants(0.0, 1e-10, 0.2);
  double totals[max_ligands] = {1e-9, 0.0};
  Point_binding out;
  // No specific binding: bound = T C N / (1 + C N).
  calculate_bound_ligand_general(1, 1, totals, k, 2.0, out);
  EXPECT_NEAR(out.bound[0], 1e-9 * 0.4 / 1.4, 1e-24);

  // A ligand with total 0 is absent; the other is solved as if alone.
  k.K[0][0] = 1e9;
  k.K[1][0] = 5e8;
  k.N[1] = 0.1;
  Point_binding alone, pair;
  calculate_bound_ligand_general(1, 1, totals, k, 1.0, alone);
  calculate_bound_ligand_general(2, 1, totals, k, 1.0, pair);
  EXPECT_EQ(pair.free[1], 0.0);
  EXPECT_EQ(pair.bound[1], 0.0);
  EXPECT_DOUBLE_EQ(pair.bound[0], alone.bound[0]);

  // Constants outside the domain still give finite values inside the total.
  k.R[0] = -1e-10;
  calculate_bound_ligand_general(1, 1, totals, k, 1.0, out);
  EXPECT_TRUE(out.bound[0] >= 0.0);
  EXPECT_TRUE(out.bound[0] <= 1e-9);
}

TEST(CompetitionSolver, MatchesTheReferenceOverTheParameterBox) {
  reference::Box_sampler sampler(77);
  int checked = 0;
  for (int i = 0; i < 20000 && !HasFailure(); ++i) {
    auto p = sampler.sample(2, 1 + i % 2);
    // One site in four without cooperativity: the labelled ligand's solve in closed form.
    if (i % 4 == 0) p.B[0] = 1;
    // A competition curve holds its labelled ligand near the receptor's range.
    p.total[1] = static_cast<double>(p.R[0] + p.R[1]) * sampler.log_uniform(1e-2, 1e3);
    checked += expect_accurate(p, reference::run_competition(p, i % 3 == 0));
  }
  EXPECT_GT(checked, 10000);
}
TEST(CompetitionSolver, EdgesOfTheCurve) {
  Binding_constants k = testing::one_site_constants(1e9, 1e-10, 0.0);
  k.K[1][0] = 2e9, k.N[1] = 0.01;
  // No competitor: the labelled ligand alone.
  double totals[max_ligands] = {0.0, 1e-9};
  Point_binding first, alone;
  calculate_bound_competition_multisite(totals, k, 1.0, 1, 2, 1, first);
  calculate_bound_ligand_general(2, 1, totals, k, 1.0, alone);
  EXPECT_EQ(first.free[0], 0.0);
  EXPECT_EQ(first.bound[0], 0.0);
  EXPECT_DOUBLE_EQ(first.bound[1], alone.bound[1]);

  // A huge excess of competitor leaves only nonspecific labelled binding.
  totals[0] = 1e-2;
  Point_binding excess;
  calculate_bound_competition_multisite(totals, k, 1.0, 1, 2, 1, excess);
  EXPECT_NEAR(excess.bound[1] / (1e-9 * 0.01 / 1.01), 1.0, 1e-4);
}

TEST(InvertMatrixPivot, InvertsWithPivotingAndRefusesSingularMatrices) {
  const double m[4][4] = {{0, 2, 0, 0}, {1, 1, 0, 0}, {0, 0, 4, 1}, {0, 0, 2, 1}};
  double inv[4][4];
  ASSERT_TRUE(invert_matrix_pivot(4, m, inv));
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      double product = 0.0;
      for (int k = 0; k < 4; ++k) product += m[i][k] * inv[k][j];
      EXPECT_NEAR(product, i == j ? 1.0 : 0.0, 1e-15);
    }
  }
  const double singular[4][4] = {{1, 2}, {2, 4}};
  EXPECT_FALSE(invert_matrix_pivot(2, singular, inv));
}

}  // namespace
}  // namespace kelvora
