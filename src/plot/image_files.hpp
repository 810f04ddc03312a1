#pragma once
// Plot image files: PNG, SVG, PDF and BMP. Each image is made in memory and
// then written with replace_file, so that a failed write never leaves a
// truncated image or destroys an older file of that name.

#include <cairomm/surface.h>

#include <optional>
#include <string>

#include "plot/plot_object.hpp"

namespace kelvora {

enum class Image_format { png, svg, pdf, bmp };

// The format a file name's extension names (case-insensitive), if any.
std::optional<Image_format> image_format_of(const std::string& file_name);

// Writes `plot` drawn at width × height (pixels for PNG and BMP, points for
// SVG and PDF) to `file_name`. False when the file cannot be written.
bool write_plot_image(const Plot_object& plot, const std::string& file_name, Image_format format,
                      int width, int height);

// Writes an image already drawn (an ARGB32 or RGB24 surface) as a 24-bit BMP.
bool write_bmp(const Cairo::RefPtr<Cairo::ImageSurface>& image, const std::string& file_name);

}  // namespace kelvora
