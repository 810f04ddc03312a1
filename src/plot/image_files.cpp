#include "plot/image_files.hpp"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libdeflate.h>

#include <cairomm/context.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

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

// One row of Cairo pixels as 8-bit RGB laid over white. Cairo keeps each
// pixel as one native-endian word 0xAARRGGBB with the colour premultiplied
// by alpha (so c ≤ a), and over white a channel is c + (255 − a) ≤ 255.
void opaque_row(const unsigned char* in, int width, bool has_alpha, unsigned char* out) {
  const std::uint32_t alpha_mask = has_alpha ? 0xFF000000u : 0u;
  for (int col = 0; col < width; ++col) {
    std::uint32_t word;
    std::memcpy(&word, in + 4 * col, sizeof word);
    const std::uint32_t background = 255u - ((word | ~alpha_mask) >> 24);
    out[3 * col + 0] = static_cast<unsigned char>(((word >> 16) & 0xFFu) + background);
    out[3 * col + 1] = static_cast<unsigned char>(((word >> 8) & 0xFFu) + background);
    out[3 * col + 2] = static_cast<unsigned char>((word & 0xFFu) + background);
  }
}

// The pixels of an ARGB32 or RGB24 image, flushed; none for another format
// or an empty image.
struct Image_pixels {
  const unsigned char* data;
  int width;
  int height;
  int stride;
  bool has_alpha;
};
std::optional<Image_pixels> pixels_of(const Cairo::RefPtr<Cairo::ImageSurface>& image) {
  const Cairo::Format format = image->get_format();
  if (format != Cairo::FORMAT_ARGB32 && format != Cairo::FORMAT_RGB24) return std::nullopt;
  image->flush();
  const Image_pixels pixels{image->get_data(), image->get_width(), image->get_height(),
                            image->get_stride(), format == Cairo::FORMAT_ARGB32};
  if (pixels.width <= 0 || pixels.height <= 0 || pixels.data == nullptr) return std::nullopt;
  return pixels;
}

const unsigned char* row_of(const Image_pixels& image, int row) {
  return image.data + static_cast<std::ptrdiff_t>(row) * image.stride;
}

// The image as 8-bit RGB laid over white, for GdkPixbuf's BMP writer.
std::unique_ptr<GdkPixbuf, Pixbuf_unref> opaque_pixbuf(const Image_pixels& image) {
  std::unique_ptr<GdkPixbuf, Pixbuf_unref> pixbuf(
      gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, image.width, image.height));
  if (!pixbuf) return nullptr;
  guchar* out = gdk_pixbuf_get_pixels(pixbuf.get());
  const int out_stride = gdk_pixbuf_get_rowstride(pixbuf.get());
  for (int row = 0; row < image.height; ++row) {
    opaque_row(row_of(image, row), image.width, image.has_alpha,
               out + static_cast<std::ptrdiff_t>(row) * out_stride);
  }
  return pixbuf;
}

// Appends a PNG chunk: its length, its type, its data and the CRC-32 of
// type and data.
void append_chunk(std::string& file, const char (&type)[5], std::string_view data) {
  const auto append_u32 = [&file](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
      file.push_back(static_cast<char>(v >> shift & 0xFFu));
  };
  append_u32(static_cast<std::uint32_t>(data.size()));
  const std::size_t start = file.size();
  file.append(type, 4);
  file.append(data);
  append_u32(libdeflate_crc32(0, file.data() + start, file.size() - start));
}

// The image laid over white as the bytes of a PNG file (8-bit RGB). A plot
// is mostly white with thin lines and text: every row is stored with the
// "up" filter (each byte less the byte above it), which turns the white
// rows and the columns of the axes into zeros, and the rows are deflated
// by libdeflate at its fastest level. That takes less than half the time
// of Cairo's own PNG writer (libpng's defaults: the best filter per row,
// zlib's default effort) for a file a few per cent larger.
std::optional<std::string> png_file_bytes(const Image_pixels& image) {
  const int width = image.width;
  const int height = image.height;
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(width);
  // Each row: its filter byte (2, "up"), then its filtered RGB bytes. The
  // buffers are left uninitialised: every byte of `rows` is written, and of
  // the deflated bound only what the compressor writes is read, so the pages
  // of the rest are never touched.
  const std::size_t rows_size = (row_bytes + 1) * static_cast<std::size_t>(height);
  const std::unique_ptr<char[]> rows(new char[rows_size]);
  std::vector<unsigned char> above(row_bytes, 0);
  std::vector<unsigned char> rgb(row_bytes);
  for (int row = 0; row < height; ++row) {
    opaque_row(row_of(image, row), width, image.has_alpha, rgb.data());
    char* out =
        rows.get() + static_cast<std::ptrdiff_t>(row) * static_cast<std::ptrdiff_t>(row_bytes + 1);
    out[0] = 2;
    for (std::size_t i = 0; i < row_bytes; ++i) out[1 + i] = static_cast<char>(rgb[i] - above[i]);
    above.swap(rgb);
  }
  const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(1), &libdeflate_free_compressor);
  if (!compressor) return std::nullopt;
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), rows_size);
  const std::unique_ptr<char[]> deflated(new char[bound]);
  const std::size_t size =
      libdeflate_zlib_compress(compressor.get(), rows.get(), rows_size, deflated.get(), bound);
  if (size == 0) return std::nullopt;

  std::string header(13, '\0');  // width, height, 8 bits, RGB, deflate, filtered, no interlace
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<char>(static_cast<std::uint32_t>(width) >> (24 - 8 * i) & 0xFFu);
    header[4 + i] = static_cast<char>(static_cast<std::uint32_t>(height) >> (24 - 8 * i) & 0xFFu);
  }
  header[8] = 8;
  header[9] = 2;
  std::string file("\x89PNG\r\n\x1a\n", 8);
  append_chunk(file, "IHDR", header);
  append_chunk(file, "IDAT", {deflated.get(), size});
  append_chunk(file, "IEND", {});
  return file;
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
  const std::optional<Image_pixels> pixels = pixels_of(image);
  if (!pixels) return false;
  std::string bytes;
  if (format == Image_format::png) {
    std::optional<std::string> png = png_file_bytes(*pixels);
    if (!png) return false;
    bytes = std::move(*png);
  } else {
    const std::unique_ptr<GdkPixbuf, Pixbuf_unref> pixbuf = opaque_pixbuf(*pixels);
    if (!pixbuf) return false;
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
