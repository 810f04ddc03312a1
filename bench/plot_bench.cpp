// Drawing one binding-curve plot: rendering into an 800 × 600 image and
// writing it as a PNG file.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>

#include "plot/image_files.hpp"
#include "plot/painter.hpp"

namespace {

// A typical saturation plot: 12 measured points as dots, the fitted curve as
// a line.
kelvora::Plot_object saturation_plot() {
  kelvora::Plot_object p;
  p.title = "EX1_SAT: Saturation";
  p.x = {false, 10.0, false, -12.6, -4.75, "LOG[Total Ligand]"};
  p.y = {false, 10.0, false, 0.0, 0.575, "Bound / Total"};
  kelvora::Plot_series obs{
      {}, {}, kelvora::Series_type::large_dots, {0, 0, 255}, "SSQR =  1.2345E+02"};
  kelvora::Plot_series pred{
      {}, {}, kelvora::Series_type::line, {0, 0, 255}, "Kd1 [M] =  1.0000E-09"};
  for (int i = 0; i < 12; ++i) {
    const double x = -11.2 + i * (6.1 / 11.0);
    const double y = 0.48 / (1.0 + std::pow(10.0, x + 9.0)) + 0.02;
    obs.x.push_back(x);
    obs.y.push_back(y * (i % 2 ? 1.04 : 0.96));
    pred.x.push_back(x);
    pred.y.push_back(y);
  }
  p.series = {obs, pred};
  return p;
}

void BM_render_plot(benchmark::State& state) {
  const kelvora::Plot_object plot = saturation_plot();
  for (auto _ : state) {
    auto image = kelvora::render_plot(plot, 800, 600);
    benchmark::DoNotOptimize(image->get_data());
  }
}
BENCHMARK(BM_render_plot)->Unit(benchmark::kMillisecond);

void BM_write_png(benchmark::State& state) {
  const kelvora::Plot_object plot = saturation_plot();
  const char* name = "plot_bench.png";
  for (auto _ : state) {
    if (!kelvora::write_plot_image(plot, name, kelvora::Image_format::png, 800, 600)) {
      state.SkipWithError("cannot write plot_bench.png");
      break;
    }
  }
  std::remove(name);
}
BENCHMARK(BM_write_png)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
