#include "plot/image_format.hpp"

#include <algorithm>
#include <cctype>

namespace kelvora {

std::optional<Image_format> image_format_of(const std::string& file_name) {
  const auto dot = file_name.find_last_of('.');
  if (dot == std::string::npos || file_name.find('/', dot) != std::string::npos) {
    return std::nullopt;
  }
  std::string ext = file_name.substr(dot + 1);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == "png") return Image_format::png;
  if (ext == "svg") return Image_format::svg;
  if (ext == "pdf") return Image_format::pdf;
  if (ext == "bmp") return Image_format::bmp;
  return std::nullopt;
}

}  // namespace kelvora
