// Speed of the single-curve bootstrap (100 replicates) on the EX1_SAT example
// after its fit, with K, R and N variable, on 1 and 2 threads (Release build,
// a fixed session seed so that every run draws the same resamples):
//   build/rel/bench/bootstrap_bench --benchmark_repetitions=9
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <sstream>

#include "fit/fit_sequence.hpp"
#include "fit_setup.hpp"
#include "session_random.hpp"
#include "stats/bootstrap_se.hpp"
#include "util/parallel.hpp"
#include "util/random.hpp"

namespace kelvora {
namespace {

void BM_Bootstrap(benchmark::State& state) {
  const bench::Analysis_setup fitted = bench::fitted_ex1_sat();
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  set_worker_threads(static_cast<int>(state.range(0)));
  int converged = 0;
  for (auto _ : state) {
    bench::Analysis_setup a = fitted;
    out.str("");
    Random_generator run_rng;
    run_rng.set_session_seed(7);
    run_rng.seed_from_clock();  // as the program seeds a single-curve bootstrap
    converged = calculate_bootstrap_se_kelvora(console, a.curves, a.params, a.opt, 100, run_rng,
                                               bench::from_entropy)
                    .n_converged;
  }
  state.counters["threads"] = static_cast<double>(state.range(0));
  state.counters["converged"] = converged;
}
BENCHMARK(BM_Bootstrap)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kelvora

BENCHMARK_MAIN();
