#include "util/random.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kelvora {
namespace {

Seed_sources counting_sources(std::uint32_t& ticks, std::uint32_t& entropy) {
  return {[&ticks] { return ticks; }, [&entropy] { return entropy++; }};
}

std::vector<double> draws(Random_generator& g, int n) {
  std::vector<double> u(n);
  for (double& x : u) x = g.uniform();
  return u;
}

TEST(RandomGenerator, SeedsFromItsSourcesAndRepeatsAFixedSeed) {
  std::uint32_t ticks = 1000, entropy = 7;
  Random_generator a(counting_sources(ticks, entropy));
  Random_generator b(counting_sources(ticks, entropy));

  a.seed_from_clock();
  b.seed_from_clock();
  EXPECT_EQ(draws(a, 5), draws(b, 5));
  ticks = 1001;
  b.seed_from_clock();
  a.seed_from_clock();
  const auto at_1001 = draws(a, 5);
  ticks = 1000;
  a.seed_from_clock();
  EXPECT_NE(draws(a, 5), at_1001);

  // Each entropy seeding reads fresh words, so two calls differ.
  a.seed_from_entropy();
  const auto first = draws(a, 5);
  a.seed_from_entropy();
  EXPECT_NE(draws(a, 5), first);

  a.seed_fixed();
  b.seed_fixed();
  EXPECT_EQ(draws(a, 150), draws(b, 150));
  EXPECT_EQ(a.seedings(), 6u);
}

TEST(RandomGenerator, DrawsAreUniformOnTheHalfOpenUnitInterval) {
  Random_generator g;
  g.seed_fixed({1, 2, 3, 4});
  constexpr int n = 100000;
  int bins[10] = {};
  for (int i = 0; i < n; ++i) ++bins[static_cast<int>(g.uniform() * 10)];  // [0, 1): bins 0..9
  // Each bin holds 10000 +- 4 standard deviations (sd = 95).
  for (int count : bins) EXPECT_NEAR(count, 10000, 380);
}

TEST(RandomGenerator, SessionSeedMakesEveryRequestRepeatable) {
  std::uint32_t ticks = 1, entropy = 1;
  Random_generator a(counting_sources(ticks, entropy));
  std::uint32_t ticks_b = 999, entropy_b = 555;
  Random_generator b(counting_sources(ticks_b, entropy_b));
  a.set_session_seed(7);
  b.set_session_seed(7);
  std::vector<std::vector<double>> from_a, from_b;
  for (Random_generator* g : {&a, &b}) {
    auto& out = g == &a ? from_a : from_b;
    g->seed_from_entropy();
    out.push_back(draws(*g, 4));
    g->seed_from_clock();
    out.push_back(draws(*g, 4));
    g->seed_fixed();
    out.push_back(draws(*g, 4));
    g->seed_from_entropy();
    out.push_back(draws(*g, 4));
  }
  // Same session seed, same requests: the same numbers whatever the sources.
  EXPECT_EQ(from_a, from_b);
  // Successive requests get different seeds.
  EXPECT_NE(from_a[0], from_a[3]);

  Random_generator c(counting_sources(ticks, entropy));
  c.set_session_seed(8);
  c.seed_from_entropy();
  EXPECT_NE(draws(c, 4), from_a[0]);
}

TEST(RandomGenerator, StreamsOfARunDependOnTheRunAndTheIndexOnly) {
  std::uint32_t ticks = 1, entropy = 1;
  auto stream = [&](std::uint64_t run, std::uint64_t index, bool repeatable) {
    Random_generator g =
        Random_generator::for_stream(run, index, repeatable, counting_sources(ticks, entropy));
    auto first = draws(g, 3);
    g.seed_from_entropy();  // a replicate's seeding before its tunnel move
    auto second = draws(g, 3);
    first.insert(first.end(), second.begin(), second.end());
    return first;
  };
  EXPECT_EQ(stream(42, 3, true), stream(42, 3, true));
  EXPECT_NE(stream(42, 3, true), stream(42, 4, true));
  EXPECT_NE(stream(42, 3, true), stream(43, 3, true));
  // Without repeatability only the stream's start is fixed.
  const auto a = stream(42, 3, false), b = stream(42, 3, false);
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 3, b.begin()));
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace kelvora
