#pragma once
// Plot image files: PNG, SVG, PDF and BMP. Each image is made in memory and
// then written with replace_file, so that a failed write never leaves a
// truncated image or destroys an older file of that name.

#include <cairomm/surface.h>

#include <string>

#include "plot/image_format.hpp"
#include "plot/plot_object.hpp"

namespace kelvora {

// Writes `plot` drawn at width × height (pixels for PNG and BMP, points for
// SVG and PDF) to `file_name`. False when the file cannot be written.
bool write_plot_image(const Plot_object& plot, const std::string& file_name, Image_format format,
                      int width, int height);

// Writes an image already drawn (an ARGB32 or RGB24 surface), laid over
// white, as a 24-bit BMP or PNG.
bool write_bitmap(const Cairo::RefPtr<Cairo::ImageSurface>& image, const std::string& file_name,
                  Image_format format);

}  // namespace kelvora
