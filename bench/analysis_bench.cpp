// Speed of a whole analysis as a user runs it, without plot windows: the
// dialogue from scripted answers, the fit, the bootstrap standard errors and
// every report and result file (Release build, session seed 7):
//   build/bench/analysis_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
// The thread count is the benchmark's argument (the bootstrap replicates run
// on that many threads).
#include <benchmark/benchmark.h>

#include <sstream>
#include <string>

#include "app/fitting_analysis.hpp"
#include "fit_setup.hpp"
#include "util/console.hpp"
#include "util/parallel.hpp"
#include "util/random.hpp"

namespace kelvora {
namespace {

std::string blanks(int n) {
  return std::string(n, '\n');
}

struct Session {
  const char* name;
  std::string answers;
};

// Default constants and estimates, no automatic estimates, one fit.
const Session sessions[] = {
    {"EX1_SAT", "run\nEX1_SAT\n\n1\n\n" + blanks(5) + "\nN\n" + blanks(5) + "N\n"},
    {"EX1_SAT + EX2_COMP",
     "run\nEX1_SAT\nEX2_COMP\n\n1\nC1 B1\n" + blanks(8) + "\nN\n" + blanks(8) + "N\n"},
};

void BM_WholeAnalysis(benchmark::State& state) {
  const Session& session = sessions[state.range(0)];
  set_worker_threads(static_cast<int>(state.range(1)));
  const bench::Example_folder folder("kelvora_analysis_bench");
  state.SetLabel(session.name);
  for (auto _ : state) {
    process_random().set_session_seed(7);
    std::istringstream in(session.answers);
    std::ostringstream out;
    Console console(in, out);
    static Curve_table curves;
    Fit_parameters params;
    Fit_outcome opt;
    Fit_results results;
    Plot_mode plots = Plot_mode::none;
    run_fitting_analysis(console, curves, params, opt, results, plots);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_WholeAnalysis)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace kelvora

BENCHMARK_MAIN();
