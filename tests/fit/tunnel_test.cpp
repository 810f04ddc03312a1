#include <gtest/gtest.h>

#include <sstream>

#include "fit/fit_sequence.hpp"
#include "fit/minimisers.hpp"
#include "fit/objective.hpp"
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
// Slots: K11 R1 N1 C1..Cn B1; the vector starts at `start` (K, R, N) with
// C<c> = 1, C1 and B1 constant.
struct Curves {
  Curves(const double (&truth)[3], const double (&start)[3], std::vector<double> c_true = {1.0}) {
    p.n_ligands = p.n_sites = 1;
    p.n_curves = static_cast<int>(c_true.size());
    setup_parameter_names(p);
    const Binding_constants k = testing::one_site_constants(truth[0], truth[1], truth[2]);
    for (int c = 0; c < p.n_curves; ++c) {
      testing::fill_saturation_curve(curves[c], k, c_true[c]);
      p.n_points += testing::saturation_points;
    }
    for (int s = 0; s < 3; ++s) p.value[s] = start[s];
    setup_variable_map(p, opt);
    p.accepted = p.value;
    evaluate_model(curves, p, opt);
  }
  double fresh_ss() {  // SS at the current values, from copies
    Fit_parameters q = p;
    Optimization_data o;
    evaluate_model(curves, q, o);
    return o.ss;
  }
  Curve_table curves;
  Fit_parameters p;
  Optimization_data opt;
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
  Curves f(at_bound, {5e8, 1e-5, 0.01});
  f.p.is_constant[2] = true;
  setup_variable_map(f.p, f.opt);
  const double start_ss = f.opt.ss;
  Random_generator rng = seeded(7);
  const Tunnel_result r = tunnel_search_kelvora3(f.curves, f.p, f.opt, rng);
  EXPECT_TRUE(r.improved);
  EXPECT_TRUE(f.opt.ss < 0.01 * start_ss);
  EXPECT_TRUE(f.p.value[1] <= 1e-5);
  EXPECT_TRUE(f.p.value[2] == 0.01);
  EXPECT_EQ(f.p.value, f.p.accepted);
  EXPECT_EQ(f.opt.ss, f.fresh_ss());

  // At the exact minimum nothing is found: values, accepted values and SS
  // stay as they were, even with accepted values apart from the values.
  Curves g(truth, truth);
  g.p.accepted[0] = 7e8;
  const auto values = g.p.value, accepted = g.p.accepted;
  const double ss = g.opt.ss;
  EXPECT_FALSE(tunnel_search_kelvora3(g.curves, g.p, g.opt, rng).improved);
  EXPECT_TRUE(g.p.value == values);
  EXPECT_TRUE(g.p.accepted == accepted);
  EXPECT_TRUE(g.opt.ss == ss);
}

TEST(TunnelMove, DrawsFromTheGeneratorAsItIsGiven) {
  auto end_point = [](std::uint32_t word) {
    Curves f(truth, {2e9, 0.6e-10, 0.02});
    Random_generator rng = seeded(word);
    EXPECT_TRUE(tunnel_search_kelvora3(f.curves, f.p, f.opt, rng).improved);
    EXPECT_EQ(rng.seedings(), 1u);  // the test's own seeding alone
    return f.p.value;
  };
  EXPECT_EQ(end_point(11), end_point(11));
  EXPECT_NE(end_point(11), end_point(12));
}

// Relative distance of K, R, N from the truth.
double worst_error(const Fit_parameters& p) {
  double e = 0.0;
  for (int s = 0; s < 3; ++s) e = std::max(e, std::abs(p.value[s] / truth[s] - 1.0));
  return e;
}

TEST(TunnelStrategies, ReachTheMinimumAndStopPromptlyThere) {
  // Noise-free data: the minimum is the truth. A relative parameter error
  // e leaves SS ~ e^2 of the starting SS (start errors ~0.5), so a
  // reduction by 1e-12 puts the parameters within ~1e-5; 1e-4 is allowed.
  using Strategy =
      Strategy_summary (*)(Curve_table&, Fit_parameters&, Optimization_data&, const Fit_random&);
  for (const Strategy run : {&optimize_fit_with_tunnel, &optimize_with_adaptive_tunnel}) {
    testing::Session_random rng(3);
    Curves f(truth, {1.5e9, 0.7e-10, 0.015});
    const double start_ss = f.opt.ss;
    run(f.curves, f.p, f.opt, rng.random);
    EXPECT_LT(f.opt.ss, 1e-12 * start_ss);
    EXPECT_LT(worst_error(f.p), 1e-4);
    EXPECT_EQ(f.p.value, f.p.accepted);
    EXPECT_EQ(f.opt.ss, f.fresh_ss());
    // From the minimum no step and no tunnel move can gain. Without a stop
    // for that case each of up to 300 or 500 iterations could cost a tunnel
    // move (600 evaluations): a prompt end takes well under a tenth of that.
    Curves g(truth, truth);
    const int seedings = rng.tunnel_seedings;
    const Strategy_summary s = run(g.curves, g.p, g.opt, rng.random);
    EXPECT_TRUE(s.evaluations < 18000) << s.evaluations << " " << s.iterations;
    EXPECT_TRUE(s.iterations < 30) << s.evaluations << " " << s.iterations;
    // Every tunnel move, and nothing else, seeds the generator, the caller's way.
    EXPECT_TRUE(s.tunnel_moves > 0);
    EXPECT_TRUE(rng.tunnel_seedings - seedings == s.tunnel_moves);
    EXPECT_EQ(rng.generator.seedings(), static_cast<std::uint64_t>(rng.tunnel_seedings));
    EXPECT_EQ(g.p.value, Curves(truth, truth).p.value);
  }
}

TEST(StagedStrategy, EndsAtTheJointMinimumOfTwoCurves) {
  // Both curves share K, R, N; the second is made with C2 = 1.3 (fitted).
  testing::Session_random rng(5);
  Curves f(truth, {2e9, 0.6e-10, 0.02}, {1.0, 1.3});
  const double start_ss = f.opt.ss;
  optimize_multidataset_staged(f.curves, f.p, f.opt, rng.random);
  EXPECT_LT(f.opt.ss, 1e-12 * start_ss);
  EXPECT_LT(worst_error(f.p), 1e-4);
  EXPECT_NEAR(f.p.value[4], 1.3, 1.3e-4);
}

TEST(StagedStrategy, FitsEachCurveWithItsOwnCorrectionFactor) {
  // Three curves made with C = 1, 1.3 and 0.8, all held at those values:
  // each curve alone gives back K, R, N exactly, and so does their mean.
  Curves f(truth, {2e9, 0.6e-10, 0.02}, {1.0, 1.3, 0.8});
  f.p.value[4] = 1.3, f.p.value[5] = 0.8;
  f.p.is_constant[4] = f.p.is_constant[5] = true;
  setup_variable_map(f.p, f.opt);
  f.p.accepted = f.p.value;
  evaluate_model(f.curves, f.p, f.opt);
  fit_curves_independently(f.curves, f.p, f.opt, f.opt.ss);
  EXPECT_LT(worst_error(f.p), 1e-4);
  EXPECT_EQ(f.p.value[6], 1.0);  // B1, constant, untouched
}

TEST(FitSequence, EndsAtTheBestPointWithItsOwnSum) {
  testing::Session_random rng(11);
  Curves f(truth, {3e8, 3e-10, 0.05}, {1.0, 1.3, 0.8});
  const double start_ss = f.opt.ss;
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  const Sequence_summary s = run_fit_sequence(console, f.curves, f.p, f.opt, rng.random);
  EXPECT_LT(f.opt.ss, 1e-12 * start_ss);
  EXPECT_LT(worst_error(f.p), 1e-4);
  EXPECT_EQ(f.p.value, f.p.accepted);
  EXPECT_EQ(f.opt.ss, f.fresh_ss());
  // No stage handed on a sum below the final one.
  for (const Stage_record& stage : s.stages) EXPECT_GE(stage.ss_handed_on, f.opt.ss) << stage.name;
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
    setup_variable_map(p, opt);
    p.accepted = p.backup = p.value;
    evaluate_model(curves, p, opt);
  }
  Curve_table curves;
  Fit_parameters p;
  Optimization_data opt;
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
    const double start_ss = f.opt.ss;
    apply_k_constraints_barrier(f.p);
    EXPECT_EQ(f.p.value[2], f.p.accepted[2]);  // the barrier leaves ligand 2 alone
    EXPECT_EQ(f.p.value[3], f.p.accepted[3]);
    std::vector<Preference_fits> preferences;
    run_fit_sequence_both_preferences(console, f.curves, f.p, f.opt, rng.random, preferences);
    ASSERT_EQ(preferences.size(), 1u);
    EXPECT_EQ(preferences[0].ligand, 2);
    EXPECT_EQ(preferences[0].exchanged_kept, reversed);
    EXPECT_LT(f.opt.ss, reversed ? 1e-6 * start_ss : 1e-12);
    for (int s = 0; s < 7; ++s) EXPECT_NEAR(f.p.value[s] / t[s], 1.0, 1e-4) << s;
    EXPECT_EQ(f.p.value, f.p.accepted);
    Fit_parameters q = f.p;
    Optimization_data o;
    evaluate_model(f.curves, q, o);
    EXPECT_EQ(o.ss, f.opt.ss);  // the curves and SS belong to the kept fit
    EXPECT_EQ(f.curves[1].predicted[5], f.curves[1].bound[5] - f.curves[1].residual[5]);
  }
}

TEST(LargeAnalyses, GiveTheSameSumsAndGradientsOnAnyNumberOfThreads) {
  Curves f(truth, {2e9, 0.6e-10, 0.02}, {1.0, 1.3, 0.8, 1.1, 0.9});
  auto sums = [&f](int threads, int points) {
    set_worker_threads(threads);
    f.p.n_points = points;  // the point count decides whether threads are used
    evaluate_model(f.curves, f.p, f.opt);
    calculate_gradient_hessian(f.curves, f.p, f.opt);
    std::vector<double> all{f.opt.ss};
    for (int i = 0; i < f.p.n_var; ++i) {
      all.push_back(f.opt.beta[i]);
      for (int k = 0; k <= i; ++k) all.push_back(f.opt.alpha[i][k]);
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
