#include "plot/image_files.hpp"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cairomm/context.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "plot/painter.hpp"
#include "util/files.hpp"

namespace kelvora {

namespace {

// Appends what Cairo writes to a string.
cairo_status_t append_bytes(void* bytes, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(bytes)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// The bytes of a PNG, SVG or PDF file of the plot; nothing when Cairo fails.
std::optional<std::string> cairo_file_bytes(const Plot_object& plot, Image_format format, int width,
                                            int height) {
  std::string bytes;
  if (format == Image_format::png) {
    const auto image = render_plot(plot, width, height);
    if (cairo_surface_write_to_png_stream(image->cobj(), append_bytes, &bytes) !=
        CAIRO_STATUS_SUCCESS)
      return std::nullopt;
    return bytes;
  }
  const Cairo::RefPtr<Cairo::Surface> surface(new Cairo::Surface(
      format == Image_format::svg
          ? cairo_svg_surface_create_for_stream(append_bytes, &bytes, width, height)
          : cairo_pdf_surface_create_for_stream(append_bytes, &bytes, width, height),
      true));
  {
    const auto cr = Cairo::Context::create(surface);
    paint_plot(cr, plot, width, height);
    cr->show_page();
  }
  surface->finish();
  if (cairo_surface_status(surface->cobj()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  return bytes;
}

struct Pixbuf_unref {
  void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};

}  // namespace

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

bool write_plot_image(const Plot_object& plot, const std::string& file_name, Image_format format,
                      int width, int height) {
  if (width <= 0 || height <= 0) return false;
  try {
    if (format == Image_format::bmp) return write_bmp(render_plot(plot, width, height), file_name);
    const std::optional<std::string> bytes = cairo_file_bytes(plot, format, width, height);
    return bytes && replace_file(file_name, *bytes);
  } catch (...) {
    // Cairo reports an image it cannot make (too large, no memory) by throwing.
  }
  return false;
}

bool write_bmp(const Cairo::RefPtr<Cairo::ImageSurface>& image, const std::string& file_name) {
  if (!image) return false;
  const Cairo::Format format = image->get_format();
  if (format != Cairo::FORMAT_ARGB32 && format != Cairo::FORMAT_RGB24) return false;
  image->flush();
  const int width = image->get_width();
  const int height = image->get_height();
  const int stride = image->get_stride();
  const unsigned char* data = image->get_data();
  if (width <= 0 || height <= 0 || data == nullptr) return false;

  const std::unique_ptr<GdkPixbuf, Pixbuf_unref> pixbuf(
      gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
  if (!pixbuf) return false;
  guchar* out = gdk_pixbuf_get_pixels(pixbuf.get());
  const int out_stride = gdk_pixbuf_get_rowstride(pixbuf.get());
  // Cairo keeps each pixel as one native-endian word 0xAARRGGBB with the
  // colour premultiplied by alpha; a BMP has no alpha, so the pixel is laid
  // over white: c + (255 − a).
  for (int row = 0; row < height; ++row) {
    const unsigned char* in_row = data + static_cast<std::ptrdiff_t>(row) * stride;
    guchar* out_row = out + static_cast<std::ptrdiff_t>(row) * out_stride;
    for (int col = 0; col < width; ++col) {
      std::uint32_t word;
      std::memcpy(&word, in_row + 4 * col, sizeof word);
      const unsigned background = format == Cairo::FORMAT_ARGB32 ? 255u - (word >> 24) : 0u;
      out_row[3 * col + 0] =
          static_cast<guchar>(std::min(255u, ((word >> 16) & 0xFFu) + background));
      out_row[3 * col + 1] =
          static_cast<guchar>(std::min(255u, ((word >> 8) & 0xFFu) + background));
      out_row[3 * col + 2] = static_cast<guchar>(std::min(255u, (word & 0xFFu) + background));
    }
  }
  gchar* buffer = nullptr;
  gsize size = 0;
  GError* error = nullptr;
  const bool saved = gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "bmp", &error,
                                               static_cast<char*>(nullptr)) == TRUE;
  if (error != nullptr) g_error_free(error);
  const std::string bytes = saved ? std::string(buffer, size) : std::string();
  g_free(buffer);
  return saved && replace_file(file_name, bytes);
}

}  // namespace kelvora
