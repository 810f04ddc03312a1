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
#include "fit/minimisers.hpp"
#include "fit/tunnel_search.hpp"
#include "fit_setup.hpp"
#include "session_random.hpp"
#include "stats/bootstrap_engine.hpp"
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

// The evaluations of each step of a single-curve bootstrap refit (tunnel
// move, simplex 100, Levenberg-Marquardt 100 and 200, as the bootstrap runs
// them), averaged over 100 resamples of the fitted EX1_SAT curve.
void print_refit_stages() {
  const bench::Analysis_setup fitted = bench::fitted_ex1_sat();
  constexpr int replicates = 100;
  const char* names[] = {"start", "tunnel move", "simplex 100", "Levenberg-Marquardt 100",
                         "Levenberg-Marquardt 200"};
  long long total[5] = {};
  bench::Session_random rng(7);
  Random_generator resampling;
  resampling.set_session_seed(7);
  resampling.seed_fixed();
  std::vector<int> idx;
  const Curve_data& curve = fitted.curves[0];
  for (int b = 0; b < replicates; ++b) {
    Curve_table set;
    set[0] = curve;
    generate_bootstrap_indices(curve.n_points, idx, resampling);
    for (int i = 0; i < curve.n_points; ++i) {
      set[0].total[i] = curve.total[idx[i]];
      set[0].bound[i] = curve.bound[idx[i]];
      set[0].replicates[i] = curve.replicates[idx[i]];
    }
    const Binding_problem problem(set, fitted.params);
    Search_state state = search_state_of(fitted.params);
    state.accept();
    long long before = 0;
    auto step = [&](int k) {
      total[k] += state.evaluations - before;
      before = state.evaluations;
    };
    evaluate(problem, state);
    step(0);
    tunnel_search_kelvora3(problem, state, rng.random.for_tunnel());
    step(1);
    nelder_mead_simplex(problem, state, 100);
    step(2);
    optimize_fit_simple(problem, state, 100);
    step(3);
    optimize_fit_simple(problem, state, 200);
    step(4);
  }
  long long sum = 0;
  for (const long long t : total) sum += t;
  std::printf("EX1_SAT bootstrap refit: %.1f evaluations per refit (%d resamples)\n",
              static_cast<double>(sum) / replicates, replicates);
  for (int k = 0; k < 5; ++k)
    std::printf("  %-30s %8.1f\n", names[k], static_cast<double>(total[k]) / replicates);
}

}  // namespace
}  // namespace kelvora

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--stages") == 0) {
    kelvora::print_stages();
    kelvora::print_refit_stages();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
