#include "util/random.hpp"

#include <chrono>
#include <mutex>

namespace kelvora {

namespace {

// splitmix64 (Steele, Lea and Flood, OOPSLA 2014): a bijective mixer whose
// successive outputs from any start are well spread, used to turn a session
// seed and a request number into seed words.
std::uint64_t splitmix64(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

constexpr Random_generator::Seed fixed_seed = {20261207u, 12345u, 97u, 1u};

}  // namespace

Seed_sources system_seed_sources() {
  return {[] {
            return static_cast<std::uint32_t>(
                std::chrono::steady_clock::now().time_since_epoch().count());
          },
          [] {
            // Streams of a run may reseed on several threads at once.
            static std::mutex mutex;
            static std::random_device device;
            std::lock_guard lock(mutex);
            return static_cast<std::uint32_t>(device());
          }};
}

Random_generator::Random_generator(Seed_sources sources) : sources_(std::move(sources)) {
  std::seed_seq sequence(fixed_seed.begin(), fixed_seed.end());
  engine_.seed(sequence);
}

Random_generator::Seed Random_generator::session_seed_for_request() const {
  std::uint64_t state = *session_ ^ (seedings_ * 0xD1B54A32D192ED03ULL);
  Seed seed;
  for (int i = 0; i < seed_size; i += 2) {
    const std::uint64_t word = splitmix64(state);
    seed[i] = static_cast<std::uint32_t>(word);
    seed[i + 1] = static_cast<std::uint32_t>(word >> 32);
  }
  return seed;
}

void Random_generator::install(const Seed& seed) {
  if (session_) {
    const Seed derived = session_seed_for_request();
    std::seed_seq sequence(derived.begin(), derived.end());
    engine_.seed(sequence);
  } else {
    std::seed_seq sequence(seed.begin(), seed.end());
    engine_.seed(sequence);
  }
  ++seedings_;
}

void Random_generator::seed_from_clock() {
  const std::uint32_t c = session_ ? 0u : sources_.clock_ticks();
  Seed seed;
  for (int i = 0; i < seed_size; ++i) seed[i] = c + 997u * static_cast<std::uint32_t>(i);
  install(seed);
}

void Random_generator::seed_fixed(const Seed& seed) {
  install(seed);
}

void Random_generator::seed_fixed() {
  install(fixed_seed);
}

void Random_generator::seed_from_entropy() {
  Seed seed{};
  if (!session_)
    for (auto& word : seed) word = sources_.entropy();
  install(seed);
}

Random_generator Random_generator::for_stream(std::uint64_t run_seed, std::uint64_t index,
                                              bool repeatable, Seed_sources sources) {
  std::uint64_t state = run_seed ^ (index * 0xA0761D6478BD642FULL);
  const std::uint64_t stream_seed = splitmix64(state) ^ splitmix64(state);
  Random_generator g(std::move(sources));
  g.session_ = stream_seed;  // the first seed follows from the stream alone
  g.install({});
  if (!repeatable) g.session_.reset();
  return g;
}

void Random_generator::set_session_seed(std::optional<std::uint64_t> session) {
  session_ = session;
}

Random_generator& process_random() {
  static Random_generator generator;
  return generator;
}

}  // namespace kelvora
