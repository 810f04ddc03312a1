#pragma once
// A fit's random numbers seeded as a session of the program seeds them (from
// the entropy source before each tunnel move, with the fixed seed before each
// polish), under a session seed, so that every run of a benchmark draws the
// same numbers.

#include <cstdint>

#include "fit/fit_random.hpp"

namespace kelvora::bench {

inline const Seeding from_entropy = [](Random_generator& g) { g.seed_from_entropy(); };

struct Session_random {
  explicit Session_random(std::uint64_t session) { generator.set_session_seed(session); }
  Session_random(const Session_random&) = delete;
  Session_random& operator=(const Session_random&) = delete;

  Random_generator generator;
  Fit_random random{generator, from_entropy, [](Random_generator& g) { g.seed_fixed(); }};
};

}  // namespace kelvora::bench
