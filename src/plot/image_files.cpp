#include "plot/image_files.hpp"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <png.h>
#include <zlib.h>

#include <cairomm/context.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <csetjmp>
#include <memory>
#include <optional>

#include "plot/painter.hpp"
#include "util/files.hpp"

namespace kelvora {

namespace {

// Appends what Cairo writes to a string.
cairo_status_t append_bytes(void* bytes, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(bytes)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// The bytes of an SVG or PDF file of the plot; nothing when Cairo fails.
std::optional<std::string> cairo_file_bytes(const Plot_object& plot, Image_format format, int width,
                                            int height) {
  std::string bytes;
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

// The image as 8-bit RGB laid over white. Cairo keeps each pixel as one
// native-endian word 0xAARRGGBB with the colour premultiplied by alpha, so
// over white a channel is c + (255 − a).
std::unique_ptr<GdkPixbuf, Pixbuf_unref> opaque_pixbuf(
    const Cairo::RefPtr<Cairo::ImageSurface>& image) {
  const Cairo::Format pixels = image->get_format();
  if (pixels != Cairo::FORMAT_ARGB32 && pixels != Cairo::FORMAT_RGB24) return nullptr;
  image->flush();
  const int width = image->get_width();
  const int height = image->get_height();
  const int stride = image->get_stride();
  const unsigned char* data = image->get_data();
  if (width <= 0 || height <= 0 || data == nullptr) return nullptr;
  std::unique_ptr<GdkPixbuf, Pixbuf_unref> pixbuf(
      gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
  if (!pixbuf) return nullptr;
  guchar* out = gdk_pixbuf_get_pixels(pixbuf.get());
  const int out_stride = gdk_pixbuf_get_rowstride(pixbuf.get());
  const bool has_alpha = pixels == Cairo::FORMAT_ARGB32;
  for (int row = 0; row < height; ++row) {
    const unsigned char* in_row = data + static_cast<std::ptrdiff_t>(row) * stride;
    guchar* out_row = out + static_cast<std::ptrdiff_t>(row) * out_stride;
    for (int col = 0; col < width; ++col) {
      std::uint32_t word;
      std::memcpy(&word, in_row + 4 * col, sizeof word);
      const unsigned background = has_alpha ? 255u - (word >> 24) : 0u;
      out_row[3 * col + 0] = static_cast<guchar>(std::min(255u, ((word >> 16) & 0xFFu) + background));
      out_row[3 * col + 1] = static_cast<guchar>(std::min(255u, ((word >> 8) & 0xFFu) + background));
      out_row[3 * col + 2] = static_cast<guchar>(std::min(255u, (word & 0xFFu) + background));
    }
  }
  return pixbuf;
}

void append_png_bytes(png_structp png, png_bytep data, png_size_t length) {
  try {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
  } catch (...) {
    png_error(png, "no memory for the image");
  }
}

void flush_nothing(png_structp) {}

// Encodes 8-bit RGB rows as a PNG file's bytes. A plot is mostly white
// with thin lines and text: the "up" filter turns the white rows and the
// columns of the axes into zeros, and zlib's fastest level with run-length
// matching only packs those runs. That takes a third of the time of
// libpng's defaults (the best filter per row, zlib's default effort) for a
// file about an eighth larger. libpng reports an error by a long jump back
// to the setjmp here, so nothing between them has a destructor to skip.
bool encode_png(const unsigned char* rgb, int width, int height, int stride, std::string* bytes) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, bytes, append_png_bytes, flush_nothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 1);
  png_set_compression_strategy(png, Z_RLE);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
  png_write_info(png, info);
  for (int row = 0; row < height; ++row) {
    png_write_row(png, rgb + static_cast<std::ptrdiff_t>(row) * stride);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

bool write_plot_image(const Plot_object& plot, const std::string& file_name, Image_format format,
                      int width, int height) {
  if (width <= 0 || height <= 0) return false;
  try {
    if (format == Image_format::bmp || format == Image_format::png) {
      return write_bitmap(render_plot(plot, width, height), file_name, format);
    }
    const std::optional<std::string> bytes = cairo_file_bytes(plot, format, width, height);
    return bytes && replace_file(file_name, *bytes);
  } catch (...) {
    // Cairo reports an image it cannot make (too large, no memory) by throwing.
  }
  return false;
}

bool write_bitmap(const Cairo::RefPtr<Cairo::ImageSurface>& image, const std::string& file_name,
                  Image_format format) {
  if (!image || (format != Image_format::bmp && format != Image_format::png)) return false;
  const std::unique_ptr<GdkPixbuf, Pixbuf_unref> pixbuf = opaque_pixbuf(image);
  if (!pixbuf) return false;
  std::string bytes;
  if (format == Image_format::png) {
    if (!encode_png(gdk_pixbuf_get_pixels(pixbuf.get()), gdk_pixbuf_get_width(pixbuf.get()),
                    gdk_pixbuf_get_height(pixbuf.get()), gdk_pixbuf_get_rowstride(pixbuf.get()),
                    &bytes))
      return false;
  } else {
    gchar* buffer = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    const bool saved = gdk_pixbuf_save_to_buffer(pixbuf.get(), &buffer, &size, "bmp", &error,
                                                 static_cast<char*>(nullptr)) == TRUE;
    if (error != nullptr) g_error_free(error);
    if (saved) bytes.assign(buffer, size);
    g_free(buffer);
    if (!saved) return false;
  }
  return replace_file(file_name, bytes);
}

}  // namespace kelvora
