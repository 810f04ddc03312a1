// A large analysis run once through the whole minimiser sequence: <curves>
// saturation curves of <points> points each (one ligand, one site; K, R and N
// fitted, the C's and B1 constant), made from K = 3e8, R = 2.5e-10, N = 0.02
// with 3 % noise, fitted from the default estimates. Release build:
//   build/bench/capacity_run 50 1000 7 [threads] [bootstrap]
// prints the wall time, the evaluations of each stage and the result. The
// result does not depend on the number of threads (default: processors).
// With a fifth argument "bootstrap", the 100-replicate bootstrap of several
// curves follows, its console lines on standard output as they come.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "data/parameter_layout.hpp"
#include "fit/fit_sequence.hpp"
#include "fit/binding_problem.hpp"
#include "model/binding_model.hpp"
#include "params/dialogues.hpp"
#include "params/parameter_vector.hpp"
#include "session_random.hpp"
#include "stats/bootstrap_se.hpp"
#include "util/parallel.hpp"
#include "util/random.hpp"

int main(int argc, char** argv) {
  using namespace kelvora;
  const int n_curves = argc > 1 ? std::atoi(argv[1]) : 50;
  const int n_points = argc > 2 ? std::atoi(argv[2]) : 1000;
  const unsigned long long seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 7;
  if (argc > 4) set_worker_threads(std::atoi(argv[4]));
  if (n_curves < 1 || n_curves > max_curves || n_points < 4 || n_points > max_points) {
    std::fprintf(stderr, "usage: capacity_run <curves 1-50> <points 4-1000> <seed>\n");
    return 2;
  }

  static Curve_table curves;
  Fit_parameters p;
  Fit_outcome opt;
  p.n_ligands = p.n_sites = 1;
  p.n_curves = n_curves;
  setup_parameter_names(p);
  Binding_constants truth;
  truth.K[0][0] = 3e8, truth.R[0] = 2.5e-10, truth.N[0] = 0.02, truth.B[0] = 1.0;
  Random_generator noise;
  noise.seed_fixed({static_cast<std::uint32_t>(seed), 1, 2, 3});
  for (int c = 0; c < n_curves; ++c) {
    Curve_data& curve = curves[c];
    curve.varying_ligand = curve.labelled_ligand = 1;
    curve.weight_coef = {0.0, 0.0, 0.001, 0.0, 0.0};
    allocate_curve_data(curve);
    curve.n_points = n_points;
    p.n_points += n_points;
    for (int j = 0; j < n_points; ++j) {
      // Totals from 1e-12 to 1e-7 M, log-spaced, shifted a little per curve.
      curve.total_of(j, 1) = 1e-12 * std::pow(1e5, (j + 0.37 * c / n_curves) / (n_points - 1));
      curve.replicates[j] = 1.0;
      Point_binding out;
      calculate_bound_ligand_general(1, 1, curve.total[j].data(), truth, 1.0, out);
      // Approximately normal noise: the sum of four uniforms, centred.
      double z = noise.uniform() + noise.uniform() + noise.uniform() + noise.uniform() - 2.0;
      curve.bound[j] = out.bound[0] * (1.0 + 0.03 * z * std::sqrt(3.0));
    }
  }
  for (int slot = 0; slot < p.n_params; ++slot) {
    const char kind = parameter_kind(p, slot);
    p.is_constant[slot] = kind == 'C' || kind == 'B';
    if (!p.is_constant[slot]) set_smart_default_estimate(p, slot);
  }
  setup_variable_map(p);
  p.accepted = p.value;
  const Binding_problem problem(curves, p);
  Search_state state = search_state_of(p);
  const double ss0 = evaluate(problem, state);
  state.accept();

  std::ostringstream out;
  std::istringstream in;
  Console console(in, out);
  bench::Session_random rng(seed);
  const auto start = std::chrono::steady_clock::now();
  const Sequence_summary summary = run_fit_sequence(console, problem, state, rng.random);
  store_search_state(state, p);
  opt.ss = state.ss;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double bootstrap_seconds = -1.0;
  if (argc > 5 && std::string(argv[5]) == "bootstrap") {
    std::istringstream no_input;
    Console live(no_input, std::cout);
    const auto begin = std::chrono::steady_clock::now();
    rng.generator.seed_fixed(multicurve_seed);  // as the program seeds a multi-curve bootstrap
    calculate_bootstrap_se_kelvora_multi(live, curves, p, opt, 100, rng.generator,
                                         bench::from_entropy);
    bootstrap_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  }

  std::printf("%d curves x %d points: %.2f s, %lld evaluations, SS %.6g -> %.6g\n", n_curves,
              n_points, seconds, summary.evaluations, ss0, opt.ss);
  for (const Stage_record& stage : summary.stages)
    std::printf("  %-30.*s %8lld\n", static_cast<int>(stage.name.size()), stage.name.data(),
                stage.evaluations);
  if (bootstrap_seconds >= 0.0) std::printf("bootstrap: %.2f s\n", bootstrap_seconds);
  std::printf("threads %d  K11 %.17g  R1 %.17g  N1 %.17g\n", worker_threads(),
              p.value[k_slot(p, 1, 1)], p.value[r_slot(p, 1)], p.value[n_slot(p, 1)]);
  return 0;
}
