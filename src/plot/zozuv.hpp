#pragma once
// The plotting facade: a plot is a handle that the caller fills (axes,
// title, captions, data series and their styles), shows in a window of its
// own or writes to an image file, and releases. The process keeps a list of
// the live handles; a window's callbacks find their handle through it and
// do nothing once the handle is gone. The facade itself draws nothing: the
// window and the image files come from the plot modules, loaded when first
// needed (plot/plot_modules.hpp).

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "plot/image_format.hpp"
#include "plot/plot_object.hpp"

namespace kelvora {

class Plot_window;

namespace zozuv {

// 0 = closed or closing, 1 = a redraw is requested, 2 = shown and idle.
enum class Display_state { closed = 0, redraw = 1, idle = 2 };

// Closes and releases a shown window; the window module that made the
// window supplies it.
struct Window_closer {
  void (*close)(Plot_window* window) = nullptr;
  void operator()(Plot_window* window) const {
    if (close != nullptr) close(window);
  }
};

struct Plot_handle {
  Plot_handle();
  ~Plot_handle();
  Plot_handle(const Plot_handle&) = delete;
  Plot_handle& operator=(const Plot_handle&) = delete;

  int id;                                              // finds the handle of a window
  std::unique_ptr<Plot_window, Window_closer> window;  // none while the plot is not shown
  Display_state state = Display_state::idle;
  Plot_object plot;
  // Raised after each completed drawing and after the window has closed.
  std::function<void()> drawn;
  std::function<void()> closed;
};

Plot_handle* initialize_plot();

void set_xlinear(Plot_handle* plot);
void set_ylinear(Plot_handle* plot);
void set_xlogarithmic(Plot_handle* plot, double base = 10.0);
void set_xautoscale(Plot_handle* plot);
void set_yautoscale(Plot_handle* plot);
void set_xscale(Plot_handle* plot, double min, double max);
void set_yscale(Plot_handle* plot, double min, double max);
void set_title(Plot_handle* plot, const std::string& text);
void set_xlabel(Plot_handle* plot, const std::string& text);
void set_ylabel(Plot_handle* plot, const std::string& text);

// Adds a series of points (x[i], y[i]) and returns its number: series are
// numbered from 0 in the order added. The shorter array sets the length.
int add_dataset(Plot_handle* plot, std::span<const double> x, std::span<const double> y);
// 0 = connected line, 1 = large dots, 2 = bars, 3 = small dots.
void set_seriestype(Plot_handle* plot, int series, int type);
void set_seriescolor(Plot_handle* plot, int series, int red, int green, int blue);
void set_serieslabel(Plot_handle* plot, int series, const std::string& text);

// Shows the plot in an 800 × 600 window titled with the plot's title and
// returns when the user has closed it. False, with nothing shown, when no
// window can be opened: no display, or the window module cannot be loaded,
// which `problem` (when given) then explains; it is left empty otherwise.
bool display_plot(Plot_handle* plot, std::string* problem = nullptr);

// Writes the plot, drawn at width × height, to an image file. False when
// the file cannot be written; `problem` (when given) explains a drawing
// module that cannot be loaded and is left empty otherwise.
bool save_plot(const Plot_handle* plot, const std::string& file_name, Image_format format,
               int width, int height, std::string* problem = nullptr);

// Closes the plot's window if it still has one, releases the handle and
// sets the caller's pointer to null.
void destroy_plot(Plot_handle*& plot);

// The live handle of a window, or null.
Plot_handle* find_handle(int id);

}  // namespace zozuv
}  // namespace kelvora
