#pragma once
// The drawing engine: paints a plot object onto any Cairo context (window,
// image, SVG, PDF or printed page), so that every copy of a plot is the same
// picture.

#include <cairomm/context.h>
#include <cairomm/surface.h>

#include "plot/plot_object.hpp"

namespace kelvora {

// Paints `plot` into the box (0, 0) ... (width, height) of the context's user
// space: white background, title, axes with ticks, tick labels and captions,
// the series and a legend. Nothing is drawn outside the box. Text and line
// sizes follow the box, so that a small and a large copy look alike.
void paint_plot(const Cairo::RefPtr<Cairo::Context>& cr, const Plot_object& plot, double width,
                double height);

// The plot painted onto a new ARGB32 image of width × height pixels.
Cairo::RefPtr<Cairo::ImageSurface> render_plot(const Plot_object& plot, int width, int height);

}  // namespace kelvora
