// Speed of the point model and of one objective evaluation (Release build):
//   tools/bench.sh
#include <benchmark/benchmark.h>

#include <cmath>

#include "data/parameter_layout.hpp"
#include "fit/binding_problem.hpp"
#include "model/binding_derivatives.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"

namespace kelvora {
namespace {

constexpr double ex1_total[12] = {1e-11, 2.5e-11, 5e-11, 1e-10, 2.5e-10, 5e-10,
                                  1e-9,  2.5e-9,  5e-9,  1e-8,  1.5e-8,  2e-8};
constexpr double ex2_cold[12] = {0.0,  1e-11, 3e-11, 1e-10, 3e-10, 1e-9,
                                 3e-9, 1e-8,  3e-8,  1e-7,  1e-6,  1e-5};

Binding_constants one_site_constants() {
  Binding_constants k;
  k.K[0][0] = 1e9;
  k.K[1][0] = 2e9;
  k.R[0] = 1e-10;
  k.N[0] = 1e-3;
  k.N[1] = 2e-3;
  k.B[0] = 1.0;
  return k;
}

void BM_GeneralOneLigandOneSite(benchmark::State& state) {
  const Binding_constants k = one_site_constants();
  Point_binding out;
  int i = 0;
  for (auto _ : state) {
    double totals[max_ligands] = {ex1_total[i], 0.0};
    calculate_bound_ligand_general(1, 1, totals, k, 1.0, out);
    benchmark::DoNotOptimize(out);
    i = (i + 1) % 12;
  }
}
BENCHMARK(BM_GeneralOneLigandOneSite);

Binding_constants two_site_constants() {
  Binding_constants k;
  k.K[0][0] = 1e9;
  k.K[0][1] = 1e7;
  k.K[1][0] = 3e8;
  k.K[1][1] = 2e8;
  k.R[0] = 1e-10;
  k.R[1] = 1e-9;
  k.N[0] = 1e-3;
  k.N[1] = 2e-3;
  k.B[0] = k.B[1] = 1.0;
  return k;
}

void BM_GeneralTwoLigandsTwoSites(benchmark::State& state) {
  const Binding_constants k = two_site_constants();
  Point_binding out;
  int i = 0;
  for (auto _ : state) {
    double totals[max_ligands] = {ex1_total[i], 2e-9};
    calculate_bound_ligand_general(2, 2, totals, k, 1.0, out);
    benchmark::DoNotOptimize(out);
    i = (i + 1) % 12;
  }
}
BENCHMARK(BM_GeneralTwoLigandsTwoSites);

void BM_CompetitionOneSite(benchmark::State& state) {
  const Binding_constants k = one_site_constants();
  Point_binding out;
  int i = 1;
  for (auto _ : state) {
    double totals[max_ligands] = {ex2_cold[i], 1e-9};
    calculate_bound_competition_multisite(totals, k, 1.0, 1, 2, 1, out);
    benchmark::DoNotOptimize(out);
    i = i % 11 + 1;  // every point with competitor present
  }
}
BENCHMARK(BM_CompetitionOneSite);

// The derivatives of one point, on the same points as the solves above:
// ligand 1 at the totals x, ligand 2 at `other` (labelled on a competition
// curve, absent when 0).
void bench_derivatives(benchmark::State& state, const Binding_constants& k, int n_ligands,
                       int n_sites, bool competition, const double* x, double other) {
  Curve_data curve;
  allocate_curve_data(curve);
  curve.n_points = 12;
  curve.varying_ligand = 1;
  curve.labelled_ligand = competition ? 2 : 1;
  for (int j = 0; j < 12; ++j) curve.total[j] = {x[j], other};
  Fit_parameters params;
  params.n_ligands = n_ligands;
  params.n_sites = n_sites;
  Bound_derivatives out;
  const int first = competition ? 1 : 0;  // competition: every point with competitor present
  int i = first;
  for (auto _ : state) {
    calculate_bound_derivatives(curve, params, i, k, 1.0, competition, out);
    benchmark::DoNotOptimize(out);
    i = i == 11 ? first : i + 1;
  }
}

void BM_DerivativesOneLigandOneSite(benchmark::State& state) {
  bench_derivatives(state, one_site_constants(), 1, 1, false, ex1_total, 0.0);
}
BENCHMARK(BM_DerivativesOneLigandOneSite);

void BM_DerivativesTwoLigandsTwoSites(benchmark::State& state) {
  bench_derivatives(state, two_site_constants(), 2, 2, false, ex1_total, 2e-9);
}
BENCHMARK(BM_DerivativesTwoLigandsTwoSites);

void BM_DerivativesCompetitionOneSite(benchmark::State& state) {
  bench_derivatives(state, one_site_constants(), 2, 1, true, ex2_cold, 1e-9);
}
BENCHMARK(BM_DerivativesCompetitionOneSite);

struct Analysis {
  Curve_table curves;
  Fit_parameters params;
};

void add_curve(Analysis& a, int c, int varying, int labelled, const double* x) {
  Curve_data& curve = a.curves[c];
  curve.varying_ligand = varying;
  curve.labelled_ligand = labelled;
  curve.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
  allocate_curve_data(curve);
  curve.n_points = 12;
  for (int j = 0; j < 12; ++j) {
    curve.total_of(j, varying) = x[j];
    if (varying != labelled) curve.total_of(j, labelled) = 1e-9;
    curve.bound[j] = 1e-11;
    curve.replicates[j] = 3.0;
  }
}

void setup(Analysis& a, int n_ligands, int n_curves, int n_sites = 1) {
  auto& p = a.params;
  p.n_ligands = n_ligands;
  p.n_sites = n_sites;
  p.n_curves = n_curves;
  setup_parameter_names(p);
  for (int l = 1; l <= n_ligands; ++l) {
    p.value[k_slot(p, l, 1)] = 1e9;
    p.value[n_slot(p, l)] = 1e-3;
  }
  p.value[r_slot(p, 1)] = 1e-10;
  if (n_sites == 2) {
    for (int l = 1; l <= n_ligands; ++l) p.value[k_slot(p, l, 2)] = 1e7;
    p.value[r_slot(p, 2)] = 1e-9;
  }
  setup_variable_map(p);
}

// Evaluates the objective of `a` at its parameters again and again; each
// evaluation computes its sum (the search state would remember the last one).
void time_objective(benchmark::State& state, const Analysis& a) {
  const Binding_problem problem(a.curves, a.params);
  Search_state s = search_state_of(a.params);
  for (auto _ : state) {
    s.known.problem = 0;
    benchmark::DoNotOptimize(evaluate(problem, s));
  }
}

void BM_EvaluateModelSaturation12(benchmark::State& state) {
  Analysis a;
  add_curve(a, 0, 1, 1, ex1_total);
  setup(a, 1, 1);
  time_objective(state, a);
}
BENCHMARK(BM_EvaluateModelSaturation12);

// The floor for the objective above: the same 12 points and weights, each
// point's bound ligand from the textbook quadratic of one site with
// nonspecific binding, T = F (1 + N) + R K F / (1 + K F), and no dispatch,
// checks or repairs. The ratio of the two medians is the objective's
// overhead over a closed-form loop.
void BM_ClosedFormSaturation12(benchmark::State& state) {
  const double K = 1e9, R = 1e-10, N = 1e-3;
  double totals[12], measured[12], replicates[12];
  for (int j = 0; j < 12; ++j) totals[j] = ex1_total[j], measured[j] = 1e-11, replicates[j] = 3.0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(totals);
    double ss = 0.0;
    for (int j = 0; j < 12; ++j) {
      // K (1 + N) F^2 + (1 + N + K R - K T) F - T = 0, positive root.
      const double a = K * (1.0 + N);
      const double b = 1.0 + N + K * R - K * totals[j];
      const double root = std::sqrt(b * b + 4.0 * a * totals[j]);
      const double free = b >= 0.0 ? 2.0 * totals[j] / (b + root) : (root - b) / (2.0 * a);
      const double bound = totals[j] - free;
      const double residual = measured[j] - bound;
      ss += residual * residual * replicates[j] / (0.001 * bound * bound);
    }
    benchmark::DoNotOptimize(ss);
  }
}
BENCHMARK(BM_ClosedFormSaturation12);

void BM_EvaluateModelSaturationCompetitionPair(benchmark::State& state) {
  Analysis a;
  add_curve(a, 0, 1, 1, ex1_total);
  add_curve(a, 1, 1, 2, ex2_cold);
  setup(a, 2, 2);
  time_objective(state, a);
}
BENCHMARK(BM_EvaluateModelSaturationCompetitionPair);

// The same pair of curves with two sites: every point goes to the general
// solver.
void BM_EvaluateModelPairTwoSites(benchmark::State& state) {
  Analysis a;
  add_curve(a, 0, 1, 1, ex1_total);
  add_curve(a, 1, 1, 2, ex2_cold);
  setup(a, 2, 2, 2);
  time_objective(state, a);
}
BENCHMARK(BM_EvaluateModelPairTwoSites);

}  // namespace
}  // namespace kelvora

BENCHMARK_MAIN();
