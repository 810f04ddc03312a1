#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>

#include "model/binding_model.hpp"
#include "model/competition_solver.hpp"
#include "reference_binding.hpp"

namespace kelvora {
namespace {

using testing::real;
using testing::Reference_answer;
using testing::Reference_problem;

// Free and bound must match the reference to 1e-9 relative wherever the
// bound fraction lies in [1e-7, 1 - 1e-7].
constexpr double tolerance = 1e-9;

bool in_accuracy_domain(const Reference_problem& p, const Reference_answer& r) {
  for (int l = 0; l < p.n_ligands; ++l) {
    if (p.total[l] <= 0) continue;
    const real fraction = r.bound[l] / p.total[l];
    if (fraction < 1e-7L || fraction > 1 - 1e-7L) return false;
  }
  return true;
}

Binding_constants constants_of(const Reference_problem& p) {
  Binding_constants k;
  for (int l = 0; l < 2; ++l) {
    k.N[l] = static_cast<double>(p.N[l]);
    for (int s = 0; s < 2; ++s) k.K[l][s] = static_cast<double>(p.K[l][s]);
  }
  for (int s = 0; s < 2; ++s) {
    k.R[s] = static_cast<double>(p.R[s]);
    k.B[s] = static_cast<double>(p.B[s]);
  }
  return k;
}

std::string describe(const Reference_problem& p) {
  std::ostringstream text;
  text << "L=" << p.n_ligands << " S=" << p.n_sites << " T=" << static_cast<double>(p.total[0])
       << "," << static_cast<double>(p.total[1]) << " K11=" << static_cast<double>(p.K[0][0])
       << " R1=" << static_cast<double>(p.R[0]) << " B1=" << static_cast<double>(p.B[0])
       << " C=" << static_cast<double>(p.C);
  return text.str();
}

void expect_matches(const Point_binding& got, const Reference_answer& want,
                    const Reference_problem& p, int first_ligand_index = 0) {
  for (int l = 0; l < p.n_ligands; ++l) {
    if (p.total[l] <= 0) continue;
    const int i = first_ligand_index + l;
    EXPECT_NEAR(got.free[i] / static_cast<double>(want.free[l]), 1.0, tolerance)
        << "free of ligand " << l + 1 << ": " << describe(p);
    EXPECT_NEAR(got.bound[i] / static_cast<double>(want.bound[l]), 1.0, tolerance)
        << "bound of ligand " << l + 1 << ": " << describe(p);
  }
}

Point_binding general(const Reference_problem& p) {
  double totals[max_ligands] = {static_cast<double>(p.total[0]), static_cast<double>(p.total[1])};
  Point_binding out;
  calculate_bound_ligand_general(p.n_ligands, p.n_sites, totals, constants_of(p),
                                 static_cast<double>(p.C), out);
  return out;
}

// Log-uniform sampling over the model's working domain: K R from 1e-3 to
// 1e7 (beyond 1e4, so that bound fractions reach 1 - 1e-7), totals from 1e-4
// to 1e8 times the receptor, B from 0.25 to 4, C from 0.1 to 10, N 0 or from
// 1e-4 to 0.5.
class Domain_sampler {
 public:
  explicit Domain_sampler(unsigned seed) : engine_(seed) {}
  real log_uniform(double lo, double hi) {
    const double u = static_cast<double>(engine_() >> 11) * 0x1.0p-53;
    return static_cast<real>(std::exp(std::log(lo) + u * (std::log(hi) - std::log(lo))));
  }
  Reference_problem sample(int n_ligands, int n_sites) {
    Reference_problem p;
    p.n_ligands = n_ligands;
    p.n_sites = n_sites;
    p.C = log_uniform(0.1, 10);
    for (int s = 0; s < n_sites; ++s) {
      p.R[s] = log_uniform(1e-12, 1e-8);
      p.B[s] = log_uniform(0.25, 4);
    }
    const real receptor = p.R[0] + p.R[1];
    for (int l = 0; l < n_ligands; ++l) {
      for (int s = 0; s < n_sites; ++s) p.K[l][s] = log_uniform(1e-3, 1e7) / p.R[s];
      p.N[l] = (engine_() % 4 == 0) ? 0 : log_uniform(1e-4, 0.5);
      p.total[l] = receptor * log_uniform(1e-4, 1e8);
    }
    return p;
  }

 private:
  std::mt19937_64 engine_;
};

struct Shape {
  int n_ligands;
  int n_sites;
};

class GeneralSolverAccuracy : public ::testing::TestWithParam<Shape> {};

TEST_P(GeneralSolverAccuracy, MatchesNestedBisectionOverTheDomain) {
  const auto shape = GetParam();
  Domain_sampler sampler(1000 * shape.n_ligands + shape.n_sites);
  int checked = 0;
  for (int i = 0; i < 1200; ++i) {
    const auto p = sampler.sample(shape.n_ligands, shape.n_sites);
    const auto want = testing::reference_solution(p);
    const auto got = general(p);
    if (!in_accuracy_domain(p, want)) continue;
    ++checked;
    expect_matches(got, want, p);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(checked, 600);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GeneralSolverAccuracy,
                         ::testing::Values(Shape{1, 1}, Shape{1, 2}, Shape{2, 1}, Shape{2, 2}));

TEST(GeneralSolver, OneSiteMatchesTheClosedFormAcrossBoundFractions) {
  // Bound fractions from about 1e-7 (total 1e7 times the receptor) to the
  // largest K R and C of the domain, with and without nonspecific binding.
  for (const double kr : {1e-3, 0.1, 1.0, 10.0, 1e3, 1e4}) {
    for (const double t_over_r : {1e-4, 1e-2, 1.0, 1e2, 1e4, 1e6, 1e7}) {
      for (const double n : {0.0, 1e-3, 0.5}) {
        for (const double c : {0.1, 1.0, 10.0}) {
          Reference_problem p;
          p.R[0] = 1e-10;
          p.K[0][0] = kr / 1e-10;
          p.total[0] = t_over_r * 1e-10;
          p.N[0] = n;
          p.C = c;
          const auto want = testing::one_site_closed_form(p.total[0], p.K[0][0], p.R[0], n, c);
          if (!in_accuracy_domain(p, want)) continue;
          expect_matches(general(p), want, p);
        }
      }
    }
  }
}

TEST(GeneralSolver, SpecialCasesOfTheModel) {
  Binding_constants k;
  k.K[0][0] = 0.0;
  k.R[0] = 1e-10;
  k.N[0] = 0.2;
  k.B[0] = 1.0;
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

  // C scales the receptor concentrations and the nonspecific ratio alike.
  Binding_constants doubled = k;
  doubled.R[0] *= 2.0;
  doubled.N[0] *= 2.0;
  Point_binding scaled, explicit_doubling;
  calculate_bound_ligand_general(1, 1, totals, k, 2.0, scaled);
  calculate_bound_ligand_general(1, 1, totals, doubled, 1.0, explicit_doubling);
  EXPECT_NEAR(scaled.bound[0] / explicit_doubling.bound[0], 1.0, 1e-14);

  // Constants outside the domain still give finite values inside the total.
  k.R[0] = -1e-10;
  calculate_bound_ligand_general(1, 1, totals, k, 1.0, out);
  EXPECT_TRUE(out.bound[0] >= 0.0 && out.bound[0] <= 1e-9);
}

TEST(CompetitionSolver, MatchesNestedBisectionOverTheDomain) {
  Domain_sampler sampler(77);
  int checked = 0;
  for (int i = 0; i < 2400; ++i) {
    const int n_sites = 1 + i % 2;
    auto p = sampler.sample(2, n_sites);
    // Labelled ligand near its receptor's range, competitor anywhere.
    p.total[1] = (p.R[0] + p.R[1]) * sampler.log_uniform(1e-2, 1e3);
    const auto want = testing::reference_solution(p);
    // Ligand 1 varies and ligand 2 is labelled, or the other way round.
    const bool swap = i % 3 == 0;
    double totals[max_ligands] = {};
    Binding_constants k = constants_of(p);
    if (swap) {
      std::swap(k.K[0], k.K[1]);
      std::swap(k.N[0], k.N[1]);
      totals[0] = static_cast<double>(p.total[1]);
      totals[1] = static_cast<double>(p.total[0]);
    } else {
      totals[0] = static_cast<double>(p.total[0]);
      totals[1] = static_cast<double>(p.total[1]);
    }
    Point_binding got;
    calculate_bound_competition_multisite(totals, k, static_cast<double>(p.C), swap ? 2 : 1,
                                          swap ? 1 : 2, n_sites, got);
    if (swap) {
      std::swap(got.free[0], got.free[1]);
      std::swap(got.bound[0], got.bound[1]);
    }
    if (!in_accuracy_domain(p, want)) continue;
    ++checked;
    expect_matches(got, want, p);
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(checked, 1200);
}

TEST(CompetitionSolver, ExampleCompetitionCurveIncludingLargeExcess) {
  // The concentrations of EX2_COMP: hot 1 nM, competitor up to 10 uM, where
  // the root lies within 1e-5 of the competitor's total.
  Reference_problem p;
  p.n_ligands = 2;
  p.R[0] = 1e-10;
  p.K[0][0] = 1e9;
  p.K[1][0] = 1e9;
  p.N[0] = p.N[1] = 1e-3;
  p.total[1] = 1e-9;
  for (const double cold : {1e-10, 1e-9, 1e-8, 1e-7, 1e-6, 1e-5}) {
    p.total[0] = cold;
    const auto want = testing::reference_solution(p);
    double totals[max_ligands] = {cold, 1e-9};
    Point_binding got;
    calculate_bound_competition_multisite(totals, constants_of(p), 1.0, 1, 2, 1, got);
    expect_matches(got, want, p);
  }
}

TEST(CompetitionSolver, EdgesOfTheCurve) {
  Binding_constants k;
  k.K[0][0] = 1e9;
  k.K[1][0] = 2e9;
  k.R[0] = 1e-10;
  k.N[1] = 0.01;
  k.B[0] = 1.0;
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

  // With one site the second-site constants do not enter.
  Binding_constants noisy = k;
  noisy.K[0][1] = 7e12;
  noisy.K[1][1] = 3e11;
  noisy.R[1] = 5e-6;
  noisy.B[1] = 0.3;
  totals[0] = 3e-9;
  Point_binding clean, with_noise;
  calculate_bound_competition_multisite(totals, k, 1.0, 1, 2, 1, clean);
  calculate_bound_competition_multisite(totals, noisy, 1.0, 1, 2, 1, with_noise);
  EXPECT_EQ(clean.bound[1], with_noise.bound[1]);
  EXPECT_EQ(clean.bound[0], with_noise.bound[0]);
}

TEST(CompetitionSolver, BrentSearchFindsTheRootOrReportsNoBracket) {
  detail::Competition_problem p;
  p.Tv = 1e-6;
  p.Th = 1e-9;
  p.Kv[0] = p.Kh[0] = 1e9;
  p.R[0] = 1e-10;
  p.B[0] = 1.0;
  bool ok = false;
  const double root = detail::zbrent_competition(0.0, p.Tv, p, ok);
  ASSERT_TRUE(ok);
  EXPECT_LE(std::abs(detail::mass_balance_multisite(root, p)), 1e-20);
  EXPECT_EQ(detail::zbrent_competition(0.0, 1e-12, p, ok), 0.5e-12);
  EXPECT_FALSE(ok);
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
