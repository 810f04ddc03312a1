#pragma once
// The two graphics data files of a fit: the plot data file (log total ligand
// against observed and predicted bound/total, one block per curve) and the
// Scatchard data file (bound/free of the saturation curves with 95 %
// confidence limits). The predicted values are those of the fitted model at
// the measured points.

#include <functional>
#include <iosfwd>

#include "data/records.hpp"
#include "plot/curve_plot_data.hpp"

namespace kelvora {

class Console;

// Shows the plot of curve number `c` (from 0); it returns when the next
// curve may follow (a plot window has been closed).
using Plot_sink = std::function<void(int c, const Curve_plot& plot)>;

// Writes one plot data block per curve (the fit number counts all curves and
// is kept in results.n_blocks), each followed by that curve's plot.
void plot_graphics_data(std::ostream& out, const Curve_table& curves, const Fit_parameters& params,
                        const Fit_outcome& opt, Fit_results& results,
                        const Plot_sink& show = {});

// The plot of curve `c`: its plotted points and its legend.
Curve_plot make_curve_plot(const Curve_table& curves, int c, const Fit_parameters& params,
                           const Fit_outcome& opt);

// Writes one Scatchard block per curve that is not a competition curve (the
// curve number counts those curves only and is kept in results.n_blocks);
// warnings about the nonspecific ratio go to the console.
void save_graphics_data_cl(Console& console, std::ostream& out, const Curve_table& curves,
                           const Fit_parameters& params, const Fit_outcome& opt,
                           Fit_results& results);

}  // namespace kelvora
