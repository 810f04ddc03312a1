#pragma once
// The program's one pseudo-random generator: uniform doubles on [0, 1),
// from the 64-bit Mersenne Twister (Matsumoto and Nishimura, ACM Trans.
// Model. Comput. Simul. 8, 3-30, 1998), seeded from a seed of `seed_size`
// 32-bit words. It is seeded in the three ways the program needs: from the
// system clock, with a repeatable seed (given, or the program's fixed one),
// and from the operating system's entropy source.
//
// A session seed makes a whole session repeatable: once set, every seeding
// request, whatever its kind, installs a seed derived from the session seed
// and the number of requests made so far, so two sessions with the same
// session seed and the same answers draw the same numbers.
//
// Only the program's top level seeds: an algorithm draws from the generator
// it is given as it stands, and one that starts fresh sequences as it goes
// takes a Seeding from its caller for them.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>

namespace kelvora {

// Where seeds come from; replaceable, so that tests are repeatable.
struct Seed_sources {
  std::function<std::uint32_t()> clock_ticks;  // the system clock's tick count
  std::function<std::uint32_t()> entropy;      // one word of the system's entropy
};

// The system's clock and entropy source.
Seed_sources system_seed_sources();

class Random_generator {
 public:
  static constexpr int seed_size = 4;  // 32-bit words in a seed
  using Seed = std::array<std::uint32_t, seed_size>;

  explicit Random_generator(Seed_sources sources = system_seed_sources());

  // Seed word i (0-based) = c + 997 i in 32-bit arithmetic, c the clock's
  // tick count.
  void seed_from_clock();
  // The given seed, or the program's fixed seed (the same numbers every run).
  void seed_fixed(const Seed& seed);
  void seed_fixed();
  // Every word from the operating system's entropy source.
  void seed_from_entropy();

  // From now on every seeding request installs the seed derived from
  // `session` and its request number; nothing clears it but a new call.
  void set_session_seed(std::optional<std::uint64_t> session);

  // A generator of its own for stream `index` of a run (one bootstrap
  // replicate, say), seeded from `run_seed` and the index alone, so that
  // streams can be drawn on any thread in any order with the same numbers.
  // When `repeatable`, its own later seedings derive from them too (as under
  // a session seed); otherwise they use `sources`.
  static Random_generator for_stream(std::uint64_t run_seed, std::uint64_t index, bool repeatable,
                                     Seed_sources sources = system_seed_sources());

  // Whether a session seed is set.
  bool repeatable() const { return session_.has_value(); }

  // 64 random bits (to seed the streams of a run from this generator).
  std::uint64_t next_bits() { return engine_(); }

  // Uniform on [0, 1): the top 53 bits of one 64-bit output.
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

  // Seeding requests made so far (each seed_* call is one).
  std::uint64_t seedings() const { return seedings_; }

 private:
  void install(const Seed& seed);
  // The seed of a request under a session seed.
  Seed session_seed_for_request() const;

  Seed_sources sources_;
  std::optional<std::uint64_t> session_;
  std::uint64_t seedings_ = 0;
  std::mt19937_64 engine_;
};

// A caller's seeding of a generator, applied before an algorithm begins a
// fresh sequence of draws from it (each tunnel move, say): the algorithm
// chooses when, the caller how.
using Seeding = std::function<void(Random_generator& generator)>;

// The process-wide generator of a session; the session's top level seeds it
// and hands it to the algorithms.
Random_generator& process_random();

}  // namespace kelvora
