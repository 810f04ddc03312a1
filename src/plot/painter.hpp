#pragma once
// The drawing engine: paints a plot object onto any Cairo context (window,
// image, SVG, PDF or printed page), so that every copy of a plot is the same
// picture.

#include <cairomm/context.h>
#include <cairomm/surface.h>

#include "plot/plot_object.hpp"

namespace kelvora {

// One axis as drawn: its range and tick step, in the drawn coordinate (the
// logarithm to `base` of the value on a logarithmic axis).
struct Axis_range {
  double min = 0.0;
  double max = 1.0;
  double step = 0.2;
  bool logarithmic = false;
  double base = 10.0;
};

// Where the plot area lies in a box of width × height and what it spans.
struct Plot_frame {
  double left = 0.0;  // the plot area, in the box's user space
  double top = 0.0;
  double right = 0.0;
  double bottom = 0.0;
  Axis_range x;
  Axis_range y;
  // The position of a data value; NaN when the value cannot be drawn (not
  // finite, or not positive on a logarithmic axis).
  double x_pixel(double value) const;
  double y_pixel(double value) const;
};

// The plot area and axis ranges that paint_plot uses for `plot` in a box of
// width × height.
Plot_frame plot_frame(const Plot_object& plot, double width, double height);

// Paints `plot` into the box (0, 0) ... (width, height) of the context's user
// space: white background, title, axes with ticks, tick labels and captions,
// the series and a legend. Nothing is drawn outside the box. Text and line
// sizes follow the box, so that a small and a large copy look alike.
void paint_plot(const Cairo::RefPtr<Cairo::Context>& cr, const Plot_object& plot, double width,
                double height);

// The plot painted onto a new ARGB32 image of width × height pixels.
Cairo::RefPtr<Cairo::ImageSurface> render_plot(const Plot_object& plot, int width, int height);

}  // namespace kelvora
