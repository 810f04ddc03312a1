#pragma once
// The formats of plot image files.

#include <optional>
#include <string>

namespace kelvora {

enum class Image_format { png, svg, pdf, bmp };

// The format a file name's extension names (case-insensitive), if any.
std::optional<Image_format> image_format_of(const std::string& file_name);

}  // namespace kelvora
