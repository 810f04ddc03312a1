#pragma once
// The plot of one fitted curve: observed bound/total as large dots and the
// predicted values as a line against log total ligand, titled with the
// curve's name and kind, with the fit's sum of squares and Kd1 (one site)
// or AIC (more sites) as the series' legend. It is shown in a window, or
// written to an image file when there is no display or the user asks so.

#include <string>

#include "plot/curve_plot_data.hpp"
#include "plot/zozuv.hpp"

namespace kelvora {

class Console;

// Where the plots of a session go. `automatic` becomes `window` when the
// answers come from a terminal and `png` otherwise; a window that cannot be
// opened falls back to PNG files.
enum class Plot_mode { automatic, window, png, svg, none };

// A new plot handle that holds the plot of `curve` (at least one point):
// axes scaled to the predicted values, observed values as large dots,
// predicted values as a line through the same abscissas, both blue.
zozuv::Plot_handle* initialize_curve_plot(const Curve_plot& curve);

// Shows the plot of one curve in a window and returns when the user has
// closed it, or writes it to `file_stem` + ".png" or ".svg" (800 × 600) and
// names the file on the console. `mode` becomes `png` when a window cannot
// be opened, so that one session says so once.
void plot(Console& console, const Curve_plot& curve, Plot_mode& mode, const std::string& file_stem);

}  // namespace kelvora
