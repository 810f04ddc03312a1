#include "plot/zozuv.hpp"

#include <algorithm>
#include <vector>

#include "plot/plot_modules.hpp"

namespace kelvora::zozuv {

namespace {

// The live handles. Windows live on the thread that runs display_plot, so
// the list is only touched there.
std::vector<Plot_handle*>& live_handles() {
  static std::vector<Plot_handle*> handles;
  return handles;
}

int next_id = 1;

Plot_series* series_of(Plot_handle* plot, int series) {
  if (plot == nullptr || series < 0 || series >= static_cast<int>(plot->plot.series.size()))
    return nullptr;
  return &plot->plot.series[series];
}

}  // namespace

Plot_handle::Plot_handle() : id(next_id++) {}
Plot_handle::~Plot_handle() = default;

Plot_handle* initialize_plot() {
  auto* plot = new Plot_handle;
  live_handles().push_back(plot);
  return plot;
}

void set_xlinear(Plot_handle* plot) {
  if (plot) plot->plot.x.logarithmic = false;
}
void set_ylinear(Plot_handle* plot) {
  if (plot) plot->plot.y.logarithmic = false;
}
void set_xlogarithmic(Plot_handle* plot, double base) {
  if (!plot) return;
  plot->plot.x.logarithmic = true;
  plot->plot.x.base = base > 1.0 ? base : 10.0;
}
void set_xautoscale(Plot_handle* plot) {
  if (plot) plot->plot.x.autoscale = true;
}
void set_yautoscale(Plot_handle* plot) {
  if (plot) plot->plot.y.autoscale = true;
}
void set_xscale(Plot_handle* plot, double min, double max) {
  if (!plot) return;
  plot->plot.x.autoscale = false;
  plot->plot.x.min = min;
  plot->plot.x.max = max;
}
void set_yscale(Plot_handle* plot, double min, double max) {
  if (!plot) return;
  plot->plot.y.autoscale = false;
  plot->plot.y.min = min;
  plot->plot.y.max = max;
}
void set_title(Plot_handle* plot, const std::string& text) {
  if (plot) plot->plot.title = text;
}
void set_xlabel(Plot_handle* plot, const std::string& text) {
  if (plot) plot->plot.x.caption = text;
}
void set_ylabel(Plot_handle* plot, const std::string& text) {
  if (plot) plot->plot.y.caption = text;
}

int add_dataset(Plot_handle* plot, std::span<const double> x, std::span<const double> y) {
  if (!plot) return -1;
  const std::size_t n = std::min(x.size(), y.size());
  Plot_series series;
  series.x.assign(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n));
  series.y.assign(y.begin(), y.begin() + static_cast<std::ptrdiff_t>(n));
  plot->plot.series.push_back(std::move(series));
  return static_cast<int>(plot->plot.series.size()) - 1;
}

void set_seriestype(Plot_handle* plot, int series, int type) {
  if (Plot_series* s = series_of(plot, series); s && type >= 0 && type <= 3)
    s->type = static_cast<Series_type>(type);
}
void set_seriescolor(Plot_handle* plot, int series, int red, int green, int blue) {
  if (Plot_series* s = series_of(plot, series)) s->color = {red, green, blue};
}
void set_serieslabel(Plot_handle* plot, int series, const std::string& text) {
  if (Plot_series* s = series_of(plot, series)) s->label = text;
}

bool display_plot(Plot_handle* plot, std::string* problem) {
  std::string ignored;
  std::string& why = problem != nullptr ? *problem : ignored;
  why.clear();
  if (plot == nullptr || !display_named()) return false;
  const Window_module* module = window_module(why);
  if (module == nullptr || !module->open_display()) return false;
  module->display_plot(plot);
  return true;
}

bool save_plot(const Plot_handle* plot, const std::string& file_name, Image_format format,
               int width, int height, std::string* problem) {
  std::string ignored;
  std::string& why = problem != nullptr ? *problem : ignored;
  why.clear();
  if (plot == nullptr) return false;
  const Drawing_module* module = drawing_module(why);
  return module != nullptr &&
         module->write_plot_image(plot->plot, file_name, format, width, height);
}

void destroy_plot(Plot_handle*& plot) {
  if (plot == nullptr) return;
  if (plot->window) {
    plot->window.reset();  // the module's closer also runs the events this leaves
    if (plot->closed) plot->closed();
  }
  auto& handles = live_handles();
  handles.erase(std::remove(handles.begin(), handles.end(), plot), handles.end());
  delete plot;
  plot = nullptr;
}

Plot_handle* find_handle(int id) {
  for (Plot_handle* plot : live_handles()) {
    if (plot->id == id) return plot;
  }
  return nullptr;
}

}  // namespace kelvora::zozuv
