#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "fit/binding_problem.hpp"
#include "fit/fit_sequence.hpp"
#include "fit/minimisers.hpp"
#include "fit/staged_strategies.hpp"
#include "fit/tunnel_search.hpp"
#include "model/binding_model.hpp"
#include "params/parameter_vector.hpp"
#include "support/saturation_curves.hpp"
#include "support/session_random.hpp"
#include "util/parallel.hpp"

namespace kelvora {
namespace {

// One ligand, one site, n saturation curves (support/saturation_curves.hpp),
// noise-free, made from K, R, N (truth) and correction factors c_true.
// Slots: K11 R1 N1 C1..Cn B1; the search starts at `start` (K, R, N) with
// C<c> = 1, C1 and B1 constant (so that K, R, N are variables 0, 1, 2).
struct Curves {
  Curves(const double (&truth)[3], const double (&start)[3], std::vector<double> c_true = {1.0},
         int constant_from = -1) {
    p.n_ligands = p.n_sites = 1;
    p.n_curves = static_cast<int>(c_true.size());
    setup_parameter_names(p);
    const Binding_constants k = testing::one_site_constants(truth[0], truth[1], truth[2]);
    for (int c = 0; c < p.n_curves; ++c) {
      testing::fill_saturation_curve(curves[c], k, c_true[c]);
      p.n_points += testing::saturation_points;
    }
    for (int s = 0; s < 3; ++s) p.value[s] = start[s];
    if (constant_from >= 0)
      for (int s = constant_from; s < p.n_params; ++s) p.is_constant[s] = true;
    restart();
  }
  // The problem of the vector as it stands, and its state, evaluated.
  void restart() {
    setup_variable_map(p);
    p.accepted = p.value;
    problem = std::make_unique<Binding_problem>(curves, p);
    state = search_state_of(p);
    evaluate(*problem, state);
  }
  double fresh_ss() const { return problem->sum_of_squares(state.trial()); }
  // Relative distance of K, R, N from the truth.
  double worst_error(const double (&truth)[3]) const {
    double e = 0.0;
    for (int s = 0; s < 3; ++s) e = std::max(e, std::abs(state.value[s] / truth[s] - 1.0));
    return e;
  }
  Curve_table curves;
  Fit_parameters p;
  std::unique_ptr<Binding_problem> problem;
  Search_state state;
};

constexpr double truth[3] = {1e9, 1e-10, 0.01};

Random_generator seeded(std::uint32_t word) {
  Random_generator rng;
  rng.seed_fixed({word, word, word, word});
  return rng;
}

TEST(TunnelMove, KeepsAnAdmissibleBetterPointOrRestoresEverything) {
  // K must grow to the truth, and every growing trial pushes R beyond its
  // upper bound 1e-5, where the objective clamps it: the point kept is the
  // clamped one, the SS its own. N is constant.
  const double at_bound[3] = {1e9, 1e-5, 0.01};
  Curves f(at_bound, {5e8, 1e-5, 0.01}, {1.0}, 2);
  const double start_ss = f.state.ss;
  Random_generator rng = seeded(7);
  const Tunnel_result r = tunnel_search_kelvora3(*f.problem, f.state, rng);
  EXPECT_TRUE(r.improved);
  EXPECT_LT(f.state.ss, 0.01 * start_ss);
  EXPECT_LE(f.state.value[1], 1e-5);
  EXPECT_EQ(f.state.value, f.state.accepted);
  EXPECT_EQ(f.state.ss, f.fresh_ss());

  // At the exact minimum nothing is found: the trial, the accepted point and
  // SS stay as they were, even with an accepted point apart from the trial.
  Curves g(truth, truth);
  g.state.accepted[0] = 7e8;
  const Search_state before = g.state;
  EXPECT_FALSE(tunnel_search_kelvora3(*g.problem, g.state, rng).improved);
  EXPECT_EQ(g.state.value, before.value);
  EXPECT_EQ(g.state.accepted, before.accepted);
  EXPECT_EQ(g.state.ss, before.ss);
}

TEST(TunnelMove, DrawsFromTheGeneratorAsItIsGiven) {
  auto end_point = [](std::uint32_t word) {
    Curves f(truth, {2e9, 0.6e-10, 0.02});
    Random_generator rng = seeded(word);
    EXPECT_TRUE(tunnel_search_kelvora3(*f.problem, f.state, rng).improved);
    EXPECT_EQ(rng.seedings(), 1u);  // the test's own seeding alone
    return f.state.value;
  };
  EXPECT_EQ(end_point(11), end_point(11));
  EXPECT_NE(end_point(11), end_point(12));
}

TEST(TunnelStrategies, ReachTheMinimumAndStopPromptlyThere) {
  // Noise-free data: the minimum is the truth. A relative parameter error
  // e leaves SS ~ e^2 of the starting SS (start errors ~0.5), so a
  // reduction by 1e-12 puts the parameters within ~1e-5; 1e-4 is allowed.
  using Strategy = Lm_summary (*)(const Least_squares_problem&, Search_state&, const Fit_random&);
  for (const Strategy run : {&optimize_fit_with_tunnel, &optimize_with_adaptive_tunnel}) {
    testing::Session_random rng(3);
    Curves f(truth, {1.5e9, 0.7e-10, 0.015});
    const double start_ss = f.state.ss;
    run(*f.problem, f.state, rng.random);
    EXPECT_LT(f.state.ss, 1e-12 * start_ss);
    EXPECT_LT(f.worst_error(truth), 1e-4);
    EXPECT_EQ(f.state.value, f.state.accepted);
    EXPECT_EQ(f.state.ss, f.fresh_ss());
    // From the minimum no step and no tunnel move can gain. Without a stop
    // for that case each of up to 300 or 500 iterations could cost a tunnel
    // move (600 evaluations): a prompt end takes well under a tenth of that.
    Curves g(truth, truth);
    const int seedings = rng.tunnel_seedings;
    const Lm_summary s = run(*g.problem, g.state, rng.random);
    EXPECT_LT(s.evaluations, 18000) << s.iterations;
    EXPECT_LT(s.iterations, 30) << s.evaluations;
    // Every tunnel move, and nothing else, seeds the generator, the caller's way.
    EXPECT_GT(s.tunnel_moves, 0);
    EXPECT_EQ(rng.tunnel_seedings - seedings, s.tunnel_moves);
    EXPECT_EQ(rng.generator.seedings(), static_cast<std::uint64_t>(rng.tunnel_seedings));
    EXPECT_EQ(g.state.value, Curves(truth, truth).state.value);
  }
}

TEST(StagedStrategy, FitsEachCurveWithItsOwnCorrectionFactor) {
  // Three curves made with C = 1, 1.3 and 0.8, all held at those values:
  // each curve alone gives back K, R, N exactly, and so does their mean.
  Curves f(truth, {2e9, 0.6e-10, 0.02}, {1.0, 1.3, 0.8});
  f.p.value[4] = 1.3, f.p.value[5] = 0.8;
  f.p.is_constant[4] = f.p.is_constant[5] = true;
  f.restart();
  ASSERT_EQ(f.state.n, 3);
  fit_curves_independently(*f.problem, f.state, f.state.ss);
  EXPECT_LT(f.worst_error(truth), 1e-4);
}

TEST(FitSequence, EndsAtTheBestPointWithItsOwnSum) {
  testing::Session_random rng(11);
  Curves f(truth, {3e8, 3e-10, 0.05}, {1.0, 1.3, 0.8});
  const double start_ss = f.state.ss;
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  const Sequence_summary s = run_fit_sequence(console, *f.problem, f.state, rng.random);
  EXPECT_LT(f.state.ss, 1e-12 * start_ss);
  EXPECT_LT(f.worst_error(truth), 1e-4);
  EXPECT_EQ(f.state.value, f.state.accepted);
  EXPECT_EQ(f.state.ss, f.fresh_ss());
  // No stage handed on a sum below the final one.
  for (const Stage_record& stage : s.stages)
    EXPECT_GE(stage.ss_handed_on, f.state.ss) << stage.name;
  EXPECT_TRUE(out.str().empty());
}

// Two ligands, two sites: a saturation curve of ligand 1 and a curve on which
// ligand 2 displaces it (0.5 nM), noise-free from K11 1e10, K12 1e9 (ligand 1
// prefers site 1), K21 1e6, K22 1e8 (ligand 2 prefers site 2 by 100), R1
// 1e-10, R2 2e-10, N1 0.01. N2, the C's and the B's are constant.
struct Reversed_selectivity {
  static constexpr double truth[7] = {1e10, 1e9, 1e6, 1e8, 1e-10, 2e-10, 0.01};
  explicit Reversed_selectivity(const double (&start)[7]) {
    p.n_ligands = p.n_sites = p.n_curves = 2;
    setup_parameter_names(p);
    for (int s = 0; s < p.n_params; ++s) p.value[s] = 1.0, p.is_constant[s] = s >= 7;
    p.value[7] = 0.0;  // N2
    for (int s = 0; s < 7; ++s) p.value[s] = truth[s];
    for (int c = 0; c < 2; ++c) {
      Curve_data& curve = curves[c];
      allocate_curve_data(curve);
      curve.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
      curve.labelled_ligand = 1;
      curve.varying_ligand = c + 1;
      curve.n_points = c == 0 ? 11 : 16;
      const Binding_constants k = binding_constants(p);
      for (int j = 0; j < curve.n_points; ++j) {
        if (c == 0)
          curve.total[j] = {1e-12 * std::pow(10.0, 0.5 * j), 0.0};
        else
          curve.total[j] = {5e-10, j == 0 ? 0.0 : 1e-11 * std::pow(10.0, 0.5 * (j - 1))};
        curve.replicates[j] = 3.0;
        Point_binding out;
        calculate_binding_unified(curve, p, j, k, 1.0, out);
        curve.bound[j] = out.bound[0];
      }
      p.n_points += curve.n_points;
    }
    for (int s = 0; s < 7; ++s) p.value[s] = start[s];
    setup_variable_map(p);
  }
  Curve_table curves;
  Fit_parameters p;
};

TEST(FitSequence, TriesBothSitePreferencesOfTheCompetitor) {
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  const auto& t = Reversed_selectivity::truth;
  // Started at the truth it stays there; started with ligand 2's preference
  // reversed (the valley the random searches of one fit do not leave), the
  // start with its affinities exchanged reaches the truth.
  for (const bool reversed : {false, true}) {
    testing::Session_random rng(3);
    Reversed_selectivity f(
        {t[0], t[1], reversed ? t[3] : t[2], reversed ? t[2] : t[3], t[4], t[5], t[6]});
    apply_k_constraints_barrier(f.p);
    EXPECT_EQ(f.p.value[2], reversed ? t[3] : t[2]);  // the barrier leaves ligand 2 alone
    const Binding_problem problem(f.curves, f.p);
    Search_state state = search_state_of(f.p);
    state.accepted = state.value;
    const double start_ss = evaluate(problem, state);
    std::vector<Preference_fits> preferences;
    run_fit_sequence_both_preferences(console, problem, state, rng.random, preferences);
    ASSERT_EQ(preferences.size(), 1u);
    EXPECT_EQ(preferences[0].ligand, 2);
    EXPECT_EQ(preferences[0].exchanged_kept, reversed);
    EXPECT_LT(state.ss, reversed ? 1e-6 * start_ss : 1e-12);
    for (int s = 0; s < 7; ++s) EXPECT_NEAR(state.value[s] / t[s], 1.0, 1e-4) << s;
    EXPECT_EQ(state.value, state.accepted);
    EXPECT_EQ(problem.sum_of_squares(state.trial()), state.ss);  // SS of the kept fit
  }
}

TEST(LargeAnalyses, GiveTheSameSumsAndGradientsOnAnyNumberOfThreads) {
  Curves f(truth, {2e9, 0.6e-10, 0.02}, {1.0, 1.3, 0.8, 1.1, 0.9});
  auto sums = [&f](int threads, int points) {
    set_worker_threads(threads);
    f.p.n_points = points;  // the point count decides whether threads are used
    const Binding_problem problem(f.curves, f.p);
    Normal_equations ne;
    problem.normal_equations(f.state.trial(), Derivative_kind::numerical, ne);
    std::vector<double> all{problem.sum_of_squares(f.state.trial())};
    for (int i = 0; i < f.state.n; ++i) {
      all.push_back(ne.g[i]);
      for (int k = 0; k <= i; ++k) all.push_back(ne.h[i][k]);
    }
    return all;
  };
  const auto one_thread = sums(1, parallel_points);
  EXPECT_EQ(sums(2, parallel_points), one_thread);
  EXPECT_EQ(sums(5, parallel_points), one_thread);
  const auto small = sums(2, 60);  // evaluated in one thread, summed alike
  for (std::size_t i = 0; i < small.size(); ++i)
    EXPECT_NEAR(small[i], one_thread[i], 1e-12 * std::abs(one_thread[i])) << i;
  set_worker_threads(2);
}

}  // namespace
}  // namespace kelvora
