#include "plot/image_files.hpp"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cairomm/context.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "plot/painter.hpp"

namespace kelvora {

namespace {

// Runs `write` on a fresh temporary file beside `file_name` and renames it
// over `file_name` only when the write succeeded; otherwise the temporary is
// removed and any older file of that name stays as it was.
bool write_via_temporary(const std::string& file_name,
                         const std::function<bool(const std::string&)>& write) {
  std::vector<char> name(file_name.begin(), file_name.end());
  const char suffix[] = ".part-XXXXXX";
  name.insert(name.end(), suffix, suffix + sizeof suffix);  // with the final '\0'
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  // mkstemp makes the file private; an image gets the permissions any new
  // file of the user gets.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  const std::string temporary(name.data());
  bool written = false;
  try {
    written = write(temporary);
  } catch (...) {
    written = false;
  }
  if (written && std::rename(temporary.c_str(), file_name.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  return false;
}

bool write_vector(const Plot_object& plot, const std::string& path, Image_format format, int width,
                  int height) {
  Cairo::RefPtr<Cairo::Surface> surface;
  if (format == Image_format::svg) {
    surface = Cairo::SvgSurface::create(path, width, height);
  } else {
    surface = Cairo::PdfSurface::create(path, width, height);
  }
  {
    const auto cr = Cairo::Context::create(surface);
    paint_plot(cr, plot, width, height);
    cr->show_page();
  }
  surface->finish();
  return cairo_surface_status(surface->cobj()) == CAIRO_STATUS_SUCCESS;
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
    switch (format) {
      case Image_format::png: {
        const auto image = render_plot(plot, width, height);
        return write_via_temporary(file_name, [&](const std::string& path) {
          image->write_to_png(path);
          return true;
        });
      }
      case Image_format::svg:
      case Image_format::pdf:
        return write_via_temporary(file_name, [&](const std::string& path) {
          return write_vector(plot, path, format, width, height);
        });
      case Image_format::bmp:
        return write_bmp(render_plot(plot, width, height), file_name);
    }
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
  return write_via_temporary(file_name, [&](const std::string& path) {
    GError* error = nullptr;
    const gboolean saved =
        gdk_pixbuf_save(pixbuf.get(), path.c_str(), "bmp", &error, static_cast<char*>(nullptr));
    if (error != nullptr) g_error_free(error);
    return saved == TRUE;
  });
}

}  // namespace kelvora
