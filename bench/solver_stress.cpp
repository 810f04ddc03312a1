// Accuracy of the point solvers over the admissible parameter box, against
// the long-double reference:
//   solver_stress <points> <seed>
// Points are shared out over six shapes: the general solver with one or two
// ligands on one or two sites, and the competition solver (a labelled and a
// varying ligand) on one or two sites. A point counts when every ligand's
// bound fraction lies in [1e-7, 1 - 1e-7]; it fails when free or bound of a
// ligand is off by more than 1e-9 (relative). Prints, per shape, the points
// counted, the failures, the worst relative error and the solver's time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "binding_reference.hpp"

namespace {

using namespace kelvora;
using reference::Problem;

struct Shape {
  const char* name;
  int n_ligands;
  int n_sites;
  bool competition;
};

constexpr Shape shapes[] = {
    {"general 1 ligand 1 site", 1, 1, false},  {"general 1 ligand 2 sites", 1, 2, false},
    {"general 2 ligands 1 site", 2, 1, false}, {"general 2 ligands 2 sites", 2, 2, false},
    {"competition 1 site", 2, 1, true},        {"competition 2 sites", 2, 2, true},
};

struct Tally {
  long counted = 0;
  long failed = 0;
  double worst = 0;
  double seconds = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <points> <seed>\n", argv[0]);
    return 2;
  }
  const long n_points = std::atol(argv[1]);
  reference::Box_sampler sampler(std::strtoull(argv[2], nullptr, 10));
  Tally tally[6];
  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  const std::clock_t cpu_start = std::clock();
  for (long i = 0; i < n_points; ++i) {
    const int which = static_cast<int>(i % 6);
    const Shape& shape = shapes[which];
    Problem p = sampler.sample(shape.n_ligands, shape.n_sites);
    // A competition curve holds its labelled ligand near the receptor's range.
    if (shape.competition)
      p.total[1] = static_cast<double>(p.R[0] + p.R[1]) * sampler.log_uniform(1e-2, 1e3);
    const auto t0 = clock::now();
    Point_binding got;
    if (shape.competition) {
      got = reference::run_competition(p, i % 12 < 6);
    } else {
      got = reference::run_general(p);
    }
    tally[which].seconds += std::chrono::duration<double>(clock::now() - t0).count();
    const auto want = reference::solve(p, got.free);
    if (!reference::in_accuracy_domain(p, want)) continue;
    const double error = reference::worst_error(p, got, want);
    ++tally[which].counted;
    if (!(error <= 1e-9)) {
      ++tally[which].failed;
      if (tally[which].failed <= 3) {
        std::printf(
            "failure (%s, point %ld): error %.3e T=%.17g,%.17g K=%.17g,%.17g;%.17g,%.17g "
            "R=%.17g,%.17g B=%.17g,%.17g N=%.17g,%.17g C=%.17g\n",
            shape.name, i, error, double(p.total[0]), double(p.total[1]), double(p.K[0][0]),
            double(p.K[0][1]), double(p.K[1][0]), double(p.K[1][1]), double(p.R[0]), double(p.R[1]),
            double(p.B[0]), double(p.B[1]), double(p.N[0]), double(p.N[1]), double(p.C));
      }
    }
    if (!(error <= tally[which].worst)) tally[which].worst = error;
  }
  const double total_seconds = std::chrono::duration<double>(clock::now() - start).count();
  long failed = 0;
  std::printf("%-28s %10s %8s %12s %14s\n", "shape", "counted", "failed", "worst error",
              "solver ns/pt");
  for (int s = 0; s < 6; ++s) {
    const Tally& t = tally[s];
    const long sampled = n_points / 6 + (s < n_points % 6 ? 1 : 0);
    std::printf("%-28s %10ld %8ld %12.3e %14.1f\n", shapes[s].name, t.counted, t.failed, t.worst,
                sampled > 0 ? 1e9 * t.seconds / static_cast<double>(sampled) : 0.0);
    failed += t.failed;
  }
  std::printf("failures %ld of %ld points, %.1f s in all (%.1f s of processor time)\n", failed,
              n_points, total_seconds,
              static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
  return failed == 0 ? 0 : 1;
}
