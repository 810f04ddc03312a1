#include "plot/curve_plot.hpp"

#include <algorithm>
#include <vector>

#include "plot/scale_axis.hpp"
#include "util/console.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

constexpr int file_width = 800;
constexpr int file_height = 600;

std::string trimmed(const std::string& text) {
  return std::string(trim_right(text));
}

}  // namespace

zozuv::Plot_handle* initialize_curve_plot(const Curve_plot& curve) {
  const std::vector<double>& x = curve.log_total;
  const std::vector<double>& observed = curve.observed;
  const std::vector<double>& predicted = curve.predicted;

  // The y axis follows the predicted values, with room below and above.
  Axis_scale y = scale_axis(predicted);
  double y_min = 0.5 * y.min;
  double y_max = 1.15 * y.max;
  // An observed value outside that range would fall off the plot unseen:
  // then the axis covers the observed values as well.
  const bool outside = std::any_of(observed.begin(), observed.end(),
                                   [&](double v) { return v < y_min || v > y_max; });
  if (outside) {
    std::vector<double> both = predicted;
    both.insert(both.end(), observed.begin(), observed.end());
    y = scale_axis(both);
    y_min = 0.5 * y.min;
    y_max = 1.15 * y.max;
  }
  // The x axis: for the negative log concentrations the factors widen the
  // range by 5 % on each side.
  const Axis_scale x_axis = scale_axis(x);
  const double x_min = 1.05 * x_axis.min;
  const double x_max = 0.95 * x_axis.max;

  zozuv::Plot_handle* plot = zozuv::initialize_plot();
  zozuv::set_ylinear(plot);
  zozuv::set_xlinear(plot);
  if (y_max < 1e-15) {
    zozuv::set_yautoscale(plot);
  } else {
    zozuv::set_yscale(plot, y_min, y_max);
  }
  if (x_max > 1e-15) {
    zozuv::set_xautoscale(plot);
  } else {
    zozuv::set_xscale(plot, x_min, x_max);
  }
  zozuv::set_title(plot, trimmed(curve.legend[0]));
  const int dots = zozuv::add_dataset(plot, x, observed);
  zozuv::set_seriescolor(plot, dots, 0, 0, 255);
  zozuv::set_seriestype(plot, dots, 1);
  zozuv::set_serieslabel(plot, dots, trimmed(curve.legend[1]));
  const int line = zozuv::add_dataset(plot, x, predicted);
  zozuv::set_seriescolor(plot, line, 0, 0, 255);
  zozuv::set_seriestype(plot, line, 0);
  zozuv::set_serieslabel(plot, line, trimmed(curve.legend[2]));
  zozuv::set_ylabel(plot, "Bound / Total");
  zozuv::set_xlabel(plot, "LOG[Total Ligand]");
  return plot;
}

void plot(Console& console, const Curve_plot& curve, Plot_mode& mode,
          const std::string& file_stem) {
  if (mode == Plot_mode::none) return;
  if (curve.log_total.empty()) {
    console.free_form(trimmed(curve.legend[0]) + ": no point with a positive bound/total to plot.");
    return;
  }
  zozuv::Plot_handle* handle = initialize_curve_plot(curve);
  std::string problem;
  if (mode == Plot_mode::window || mode == Plot_mode::automatic) {
    if (zozuv::display_plot(handle, &problem)) {
      zozuv::destroy_plot(handle);
      return;
    }
    // A display without the window module is a broken installation: say so
    // whatever the mode. Without a display an automatic session just writes
    // files.
    if (!problem.empty()) {
      console.free_form("The plot window cannot be shown (" + problem +
                        "): the plots are written to PNG files.");
    } else if (mode == Plot_mode::window) {
      console.free_form("No display for the plot window: the plots are written to PNG files.");
    }
    mode = Plot_mode::png;
  }
  const bool svg = mode == Plot_mode::svg;
  const std::string name = file_stem + (svg ? ".svg" : ".png");
  if (zozuv::save_plot(handle, name, svg ? Image_format::svg : Image_format::png, file_width,
                       file_height, &problem)) {
    console.free_form("Plot saved to: " + name);
  } else {
    console.exact("ERROR: Cannot write file " + name);
    if (!problem.empty()) console.free_form("The plot cannot be drawn (" + problem + ").");
  }
  zozuv::destroy_plot(handle);
}

}  // namespace kelvora
