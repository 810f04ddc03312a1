// Speed of the whole minimiser sequence of a fit pass on the example
// analyses (Release build, a fixed session seed so that every run takes the
// same path):
//   build/bench/fit_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
// The counters give the objective evaluations of the run and the final SS;
// --stages prints the evaluations of each stage once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "fit/fit_sequence.hpp"
#include "fit_setup.hpp"
#include "session_random.hpp"
#include "util/random.hpp"

namespace kelvora {
namespace {

struct Example {
  const char* name;
  std::vector<std::string> files;
  int sites;
  const char* constants;
};

const Example examples[] = {
    {"EX1_SAT", {"EX1_SAT"}, 1, ""},
    {"EX3_TWOSITE two sites", {"EX3_TWOSITE"}, 2, ""},
    {"EX1_SAT + EX2_COMP", {"EX1_SAT", "EX2_COMP"}, 1, "C1 B1"},
};

Sequence_summary run_once(const bench::Analysis_setup& setup, double& ss) {
  bench::Analysis_setup a = setup;
  std::ostringstream out;
  std::istringstream in;
  Console console(in, out);
  bench::Session_random rng(7);
  const Sequence_summary summary =
      run_fit_sequence(console, Binding_problem(a.curves, a.params), a.state, rng.random);
  ss = a.state.ss;
  return summary;
}

void BM_FitSequence(benchmark::State& state) {
  const Example& example = examples[state.range(0)];
  bench::Analysis_setup setup;
  bench::set_up_example_analysis(setup, example.files, example.sites, example.constants);
  state.SetLabel(example.name);
  double ss = 0.0;
  long long evaluations = 0;
  for (auto _ : state) evaluations = run_once(setup, ss).evaluations;
  state.counters["evaluations"] = static_cast<double>(evaluations);
  state.counters["SSQ"] = ss;
}
BENCHMARK(BM_FitSequence)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void print_stages() {
  for (const Example& example : examples) {
    bench::Analysis_setup setup;
    bench::set_up_example_analysis(setup, example.files, example.sites, example.constants);
    double ss = 0.0;
    const Sequence_summary summary = run_once(setup, ss);
    std::printf("%s: SSQ %.6g, %lld evaluations\n", example.name, ss, summary.evaluations);
    for (const Stage_record& stage : summary.stages)
      std::printf("  %-30.*s %8lld  SS handed on %.6g\n", static_cast<int>(stage.name.size()),
                  stage.name.data(), stage.evaluations, stage.ss_handed_on);
  }
}

}  // namespace
}  // namespace kelvora

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--stages") == 0) {
    kelvora::print_stages();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
