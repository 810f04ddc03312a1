#pragma once
// A fit's random numbers seeded as a session of the program seeds them: from
// the entropy source before each tunnel move and with the fixed seed before
// each polish. With a session seed every one of these derives from it, so a
// test repeats. Counts the tunnel moves' seedings.

#include <cstdint>
#include <optional>

#include "fit/fit_random.hpp"

namespace kelvora::testing {

struct Session_random {
  explicit Session_random(std::optional<std::uint64_t> session) {
    generator.set_session_seed(session);
  }
  Session_random(const Session_random&) = delete;
  Session_random& operator=(const Session_random&) = delete;

  Random_generator generator;
  int tunnel_seedings = 0;
  Fit_random random{generator,
                    [this](Random_generator& g) {
                      ++tunnel_seedings;
                      g.seed_from_entropy();
                    },
                    [](Random_generator& g) { g.seed_fixed(); }};
};

}  // namespace kelvora::testing
