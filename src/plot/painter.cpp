#include "plot/painter.hpp"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "plot/scale_axis.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Sizes at a box of 800 × 600; everything scales with the box.
constexpr double title_px = 16.0;
constexpr double label_px = 12.5;
constexpr double legend_px = 12.0;
constexpr double large_dot = 5.0;
constexpr double small_dot = 2.0;
constexpr double series_line = 2.0;
constexpr double axis_line = 1.2;
constexpr double tick_length = 5.0;
constexpr double margin_left = 84.0;
constexpr double margin_right = 30.0;
constexpr double margin_bottom = 58.0;
constexpr double margin_top_title = 44.0;
constexpr double margin_top_plain = 20.0;

double box_scale(double width, double height) {
  const double s = std::min(width / 800.0, height / 600.0);
  return std::isfinite(s) && s > 0.0 ? s : 0.0;
}

// Texts are drawn without their trailing blanks.
std::string trimmed(const std::string& text) {
  return std::string(trim_right(text));
}

// The drawn coordinate of a value: the value itself, or its logarithm; NaN
// for a value that cannot be drawn.
double axis_coordinate(bool logarithmic, double base, double v) {
  if (!std::isfinite(v)) return nan;
  if (!logarithmic) return v;
  return v > 0.0 ? std::log(v) / std::log(base) : nan;
}

double to_axis(const Plot_axis& axis, double v) {
  return axis_coordinate(axis.logarithmic, axis.base, v);
}

// A step of 1, 2 or 5 times a power of ten that cuts `range` into at most
// about eight parts.
double readable_step(double range) {
  const double raw = range / 8.0;
  const double unit = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * unit >= raw * (1.0 - 1e-9)) return m * unit;
  }
  return 10.0 * unit;
}

Axis_range linear_range(const Plot_axis& axis, const std::vector<double>& values) {
  Axis_range r;
  if (axis.autoscale || !std::isfinite(axis.min) || !std::isfinite(axis.max)) {
    const Axis_scale a = values.empty() ? Axis_scale{0.0, 1.0, 0.2} : scale_axis(values);
    r.min = std::min(a.min, a.max);
    r.max = std::max(a.min, a.max);
    r.step = std::abs(a.step);
  } else {
    r.min = std::min(axis.min, axis.max);
    r.max = std::max(axis.min, axis.max);
    if (!(r.max - r.min > 1e-12 * std::max(std::abs(r.min), std::abs(r.max)))) {
      // A range of one value is widened around it.
      const double one = r.min;
      const Axis_scale a = scale_axis(std::span<const double>(&one, 1));
      r.min = std::min(a.min, a.max);
      r.max = std::max(a.min, a.max);
    }
    r.step = readable_step(r.max - r.min);
  }
  if (!(r.step > 0.0) || !std::isfinite(r.max - r.min) || !(r.max > r.min)) {
    r = Axis_range{};
  }
  return r;
}

// Logarithmic axes span whole powers of the base, with a tick at each power
// (or at every few powers when there are many).
Axis_range log_range(const Plot_axis& axis, const std::vector<double>& values) {
  Axis_range r;
  r.logarithmic = true;
  r.base = axis.base > 0.0 && axis.base != 1.0 && std::isfinite(axis.base) ? axis.base : 10.0;
  Plot_axis a = axis;
  a.base = r.base;
  double lo = to_axis(a, axis.min);
  double hi = to_axis(a, axis.max);
  if (axis.autoscale || !std::isfinite(lo) || !std::isfinite(hi)) {
    lo = std::numeric_limits<double>::infinity();
    hi = -lo;
    for (double v : values) {
      lo = std::min(lo, std::floor(v));
      hi = std::max(hi, std::ceil(v));
    }
    if (lo > hi) lo = 0.0, hi = 1.0;
  }
  r.min = std::min(lo, hi);
  r.max = std::max(lo, hi);
  if (!(r.max > r.min)) r.min -= 1.0, r.max += 1.0;
  r.step = std::max(1.0, std::ceil((r.max - r.min) / 10.0));
  return r;
}

Axis_range axis_range(const Plot_object& plot, bool x_axis) {
  const Plot_axis& axis = x_axis ? plot.x : plot.y;
  std::vector<double> values;
  for (const Plot_series& s : plot.series) {
    const std::size_t n = std::min(s.x.size(), s.y.size());
    for (std::size_t i = 0; i < n; ++i) {
      const double v = to_axis(axis, x_axis ? s.x[i] : s.y[i]);
      if (std::isfinite(v)) values.push_back(v);
    }
  }
  return axis.logarithmic ? log_range(axis, values) : linear_range(axis, values);
}

// The ticks of an axis: the multiples of its step inside its range.
std::vector<double> ticks_of(const Axis_range& r) {
  std::vector<double> ticks;
  const double first = std::ceil(r.min / r.step - 1e-9);
  const double last = std::floor(r.max / r.step + 1e-9);
  if (!(last - first < 200.0)) return ticks;
  for (double i = first; i <= last; i += 1.0) {
    const double v = i * r.step;
    ticks.push_back(std::abs(v) < 1e-9 * r.step ? 0.0 : v);
  }
  return ticks;
}

// Tick labels with no more digits than the step needs: "0.1", "-12", or
// "2.0e-9" when the numbers are very small or very large.
class Tick_format {
 public:
  Tick_format(const Axis_range& r, const std::vector<double>& ticks) : range_(r) {
    double largest = 0.0;
    for (double t : ticks) largest = std::max(largest, std::abs(t));
    if (r.logarithmic) return;
    scientific_ = r.step < 1e-3 || largest >= 1e6;
    if (scientific_) {
      const int top = static_cast<int>(std::floor(std::log10(std::max(largest, r.step))));
      const int low = static_cast<int>(std::floor(std::log10(r.step) + 1e-9));
      decimals_ = std::clamp(top - low, 0, 6);
    } else {
      while (decimals_ < 12) {
        const double scaled = r.step * std::pow(10.0, decimals_);
        if (std::abs(scaled - std::round(scaled)) <= 1e-6 * std::max(1.0, scaled)) break;
        ++decimals_;
      }
    }
  }

  std::string operator()(double v) const {
    char text[64];
    if (range_.logarithmic) {
      std::snprintf(text, sizeof text, "%g", std::pow(range_.base, v));
    } else if (v == 0.0) {
      return "0";
    } else if (!scientific_) {
      std::snprintf(text, sizeof text, "%.*f", decimals_, v);
      return text;
    } else {
      std::snprintf(text, sizeof text, "%.*e", decimals_, v);
    }
    // Mantissa and a plain exponent: 2.0e-9 rather than 2.0e-09.
    std::string s = text;
    const auto e = s.find('e');
    if (e == std::string::npos) return s;
    const int exponent = std::atoi(s.c_str() + e + 1);
    return s.substr(0, e) + "e" + std::to_string(exponent);
  }

 private:
  Axis_range range_;
  bool scientific_ = false;
  int decimals_ = 0;
};

// Texts are UTF-8; single-byte texts that are not are read as Latin-1.
std::string as_utf8(const std::string& text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

struct Unref {
  void operator()(PangoLayout* p) const { g_object_unref(p); }
};
using Layout = std::unique_ptr<PangoLayout, Unref>;

class Text {
 public:
  Text(cairo_t* cr, const std::string& text, double px, bool bold = false)
      : layout_(pango_cairo_create_layout(cr)) {
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, "DejaVu Sans,Sans");
    pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_absolute_size(font, std::max(px, 1.0) * PANGO_SCALE);
    pango_layout_set_font_description(layout_.get(), font);
    pango_font_description_free(font);
    const std::string utf8 = as_utf8(text);
    pango_layout_set_text(layout_.get(), utf8.data(), static_cast<int>(utf8.size()));
    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout_.get(), &ink, &logical);
    width_ = logical.width;
    height_ = logical.height;
  }
  double width() const { return width_; }
  double height() const { return height_; }
  // Draws the text with its top-left corner at (x, y) of the current user space.
  void show(cairo_t* cr, double x, double y) const {
    pango_cairo_update_layout(cr, layout_.get());
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout_.get());
  }

 private:
  Layout layout_;
  double width_ = 0.0;
  double height_ = 0.0;
};

void set_color(cairo_t* cr, const Rgb& c) {
  auto unit = [](int v) { return std::clamp(v, 0, 255) / 255.0; };
  cairo_set_source_rgb(cr, unit(c.red), unit(c.green), unit(c.blue));
}

void dot(cairo_t* cr, double x, double y, double radius) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, radius, 0.0, 2.0 * std::numbers::pi);
}

// Keeps far-away points within the range Cairo's fixed-point coordinates hold.
double bounded(double v) {
  return std::clamp(v, -1e6, 1e6);
}

void draw_series(cairo_t* cr, const Plot_frame& f, const Plot_series& s, double scale) {
  const std::size_t n = std::min(s.x.size(), s.y.size());
  std::vector<double> px(n);
  std::vector<double> py(n);
  for (std::size_t i = 0; i < n; ++i) {
    px[i] = f.x_pixel(s.x[i]);
    py[i] = f.y_pixel(s.y[i]);
  }
  auto drawable = [&](std::size_t i) { return std::isfinite(px[i]) && std::isfinite(py[i]); };
  set_color(cr, s.color);
  cairo_new_path(cr);
  switch (s.type) {
    case Series_type::line: {
      bool pen_down = false;
      for (std::size_t i = 0; i < n; ++i) {
        if (!drawable(i)) {
          pen_down = false;
          continue;
        }
        if (pen_down) {
          cairo_line_to(cr, bounded(px[i]), bounded(py[i]));
        } else {
          cairo_move_to(cr, bounded(px[i]), bounded(py[i]));
          pen_down = true;
        }
      }
      cairo_set_line_width(cr, series_line * scale);
      cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      cairo_stroke(cr);
      break;
    }
    case Series_type::large_dots:
    case Series_type::small_dots: {
      const double radius = (s.type == Series_type::large_dots ? large_dot : small_dot) * scale;
      for (std::size_t i = 0; i < n; ++i) {
        if (drawable(i)) dot(cr, bounded(px[i]), bounded(py[i]), radius);
      }
      cairo_fill(cr);
      break;
    }
    case Series_type::bars: {
      double lo = std::numeric_limits<double>::infinity();
      double hi = -lo;
      std::size_t count = 0;
      for (std::size_t i = 0; i < n; ++i) {
        if (!drawable(i)) continue;
        lo = std::min(lo, px[i]);
        hi = std::max(hi, px[i]);
        ++count;
      }
      double width = count > 1 ? 0.6 * (hi - lo) / static_cast<double>(count - 1) : 0.0;
      if (!(width >= 1.0)) width = std::max(1.0, 0.04 * (f.right - f.left));
      const double base = f.y.logarithmic ? f.bottom : f.y_pixel(std::max(f.y.min, 0.0));
      for (std::size_t i = 0; i < n; ++i) {
        if (!drawable(i)) continue;
        const double top = bounded(py[i]);
        const double bottom = bounded(base);
        cairo_rectangle(cr, px[i] - width / 2.0, std::min(top, bottom), width,
                        std::abs(bottom - top));
      }
      cairo_fill(cr);
      break;
    }
  }
}

// The legend sample of a series: its dot, a short line or a small bar.
void draw_sample(cairo_t* cr, const Plot_series& s, double x, double y, double w, double scale) {
  set_color(cr, s.color);
  cairo_new_path(cr);
  switch (s.type) {
    case Series_type::line:
      cairo_move_to(cr, x, y);
      cairo_line_to(cr, x + w, y);
      cairo_set_line_width(cr, series_line * scale);
      cairo_stroke(cr);
      break;
    case Series_type::large_dots:
      dot(cr, x + w / 2.0, y, large_dot * scale);
      cairo_fill(cr);
      break;
    case Series_type::small_dots:
      dot(cr, x + w / 2.0, y, small_dot * scale);
      cairo_fill(cr);
      break;
    case Series_type::bars:
      cairo_rectangle(cr, x + w / 2.0 - 4.0 * scale, y - 5.0 * scale, 8.0 * scale, 10.0 * scale);
      cairo_fill(cr);
      break;
  }
}

void draw_legend(cairo_t* cr, const Plot_frame& f, const Plot_object& plot, double scale) {
  struct Entry {
    const Plot_series* series;
    Text text;
  };
  std::vector<Entry> entries;
  double text_width = 0.0;
  double row = 14.0 * scale;
  for (const Plot_series& s : plot.series) {
    const std::string label = trimmed(s.label);
    if (label.empty()) continue;
    entries.push_back({&s, Text(cr, label, legend_px * scale)});
    text_width = std::max(text_width, entries.back().text.width());
    row = std::max(row, entries.back().text.height());
  }
  if (entries.empty()) return;
  const double pad = 8.0 * scale;
  const double sample = 28.0 * scale;
  const double gap = 4.0 * scale;
  const double box_w = pad + sample + pad + text_width + pad;
  const double box_h = 2.0 * pad + static_cast<double>(entries.size()) * row +
                       static_cast<double>(entries.size() - 1) * gap;
  const double x0 = f.right - 10.0 * scale - box_w;
  const double y0 = f.top + 10.0 * scale;
  cairo_rectangle(cr, x0, y0, box_w, box_h);
  cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
  cairo_set_line_width(cr, 1.0 * scale);
  cairo_stroke(cr);
  double y = y0 + pad;
  for (const Entry& e : entries) {
    draw_sample(cr, *e.series, x0 + pad, y + row / 2.0, sample, scale);
    cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
    e.text.show(cr, x0 + pad + sample + pad, y + (row - e.text.height()) / 2.0);
    y += row + gap;
  }
}

void draw_axes(cairo_t* cr, const Plot_frame& f, const Plot_object& plot, double scale) {
  const std::vector<double> xt = ticks_of(f.x);
  const std::vector<double> yt = ticks_of(f.y);
  const double x_span = f.x.max - f.x.min;
  const double y_span = f.y.max - f.y.min;
  auto xp = [&](double v) { return f.left + (v - f.x.min) / x_span * (f.right - f.left); };
  auto yp = [&](double v) { return f.bottom - (v - f.y.min) / y_span * (f.bottom - f.top); };

  // Light grid at the major ticks, under everything else.
  cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
  cairo_set_line_width(cr, 1.0 * scale);
  for (double t : xt) {
    cairo_move_to(cr, xp(t), f.top);
    cairo_line_to(cr, xp(t), f.bottom);
  }
  for (double t : yt) {
    cairo_move_to(cr, f.left, yp(t));
    cairo_line_to(cr, f.right, yp(t));
  }
  cairo_stroke(cr);

  // Series, inside the plot area only.
  cairo_save(cr);
  cairo_rectangle(cr, f.left, f.top, f.right - f.left, f.bottom - f.top);
  cairo_clip(cr);
  for (const Plot_series& s : plot.series) draw_series(cr, f, s, scale);
  cairo_restore(cr);

  // Frame and outward ticks.
  const double tick = tick_length * scale;
  cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
  cairo_set_line_width(cr, axis_line * scale);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE);
  cairo_rectangle(cr, f.left, f.top, f.right - f.left, f.bottom - f.top);
  for (double t : xt) {
    cairo_move_to(cr, xp(t), f.bottom);
    cairo_line_to(cr, xp(t), f.bottom + tick);
  }
  for (double t : yt) {
    cairo_move_to(cr, f.left, yp(t));
    cairo_line_to(cr, f.left - tick, yp(t));
  }
  cairo_stroke(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);

  // Tick labels; along x every second (or n-th) label when they would touch.
  const double px = label_px * scale;
  const Tick_format x_format(f.x, xt);
  std::vector<Text> x_labels;
  double widest = 0.0;
  for (double t : xt) {
    x_labels.emplace_back(cr, x_format(t), px);
    widest = std::max(widest, x_labels.back().width());
  }
  std::size_t every = 1;
  if (xt.size() > 1) {
    const double spacing = std::abs(xp(xt[1]) - xp(xt[0]));
    while (every < xt.size() && spacing * static_cast<double>(every) < widest + 6.0 * scale) {
      ++every;
    }
  }
  for (std::size_t i = 0; i < xt.size(); i += every) {
    x_labels[i].show(cr, xp(xt[i]) - x_labels[i].width() / 2.0, f.bottom + tick + 3.0 * scale);
  }
  const Tick_format y_format(f.y, yt);
  for (double t : yt) {
    const Text label(cr, y_format(t), px);
    label.show(cr, f.left - tick - 4.0 * scale - label.width(), yp(t) - label.height() / 2.0);
  }

  // Captions: x centred below, y turned a quarter left at the left edge.
  const std::string x_caption = trimmed(plot.x.caption);
  if (!x_caption.empty()) {
    const Text caption(cr, x_caption, 13.0 * scale);
    caption.show(cr, (f.left + f.right - caption.width()) / 2.0, f.bottom + 30.0 * scale);
  }
  const std::string y_caption = trimmed(plot.y.caption);
  if (!y_caption.empty()) {
    const Text caption(cr, y_caption, 13.0 * scale);
    cairo_save(cr);
    cairo_translate(cr, 10.0 * scale, (f.top + f.bottom) / 2.0);
    cairo_rotate(cr, -std::numbers::pi / 2.0);
    caption.show(cr, -caption.width() / 2.0, 0.0);
    cairo_restore(cr);
  }
}

}  // namespace

double Plot_frame::x_pixel(double value) const {
  const double v = axis_coordinate(x.logarithmic, x.base, value);
  return left + (v - x.min) / (x.max - x.min) * (right - left);
}

double Plot_frame::y_pixel(double value) const {
  const double v = axis_coordinate(y.logarithmic, y.base, value);
  return bottom - (v - y.min) / (y.max - y.min) * (bottom - top);
}

Plot_frame plot_frame(const Plot_object& plot, double width, double height) {
  const double s = box_scale(width, height);
  Plot_frame f;
  f.left = margin_left * s;
  f.right = std::max(f.left + 1.0, width - margin_right * s);
  f.top = (trimmed(plot.title).empty() ? margin_top_plain : margin_top_title) * s;
  f.bottom = std::max(f.top + 1.0, height - margin_bottom * s);
  f.x = axis_range(plot, true);
  f.y = axis_range(plot, false);
  return f;
}

void paint_plot(const Cairo::RefPtr<Cairo::Context>& context, const Plot_object& plot, double width,
                double height) {
  const double s = box_scale(width, height);
  if (s <= 0.0) return;
  cairo_t* cr = context->cobj();
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, 0.0, 0.0, width, height);
  cairo_clip(cr);
  cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
  cairo_paint(cr);

  const Plot_frame f = plot_frame(plot, width, height);
  draw_axes(cr, f, plot, s);
  draw_legend(cr, f, plot, s);

  const std::string title = trimmed(plot.title);
  if (!title.empty()) {
    const Text text(cr, title, title_px * s, true);
    cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
    text.show(cr, (width - text.width()) / 2.0, 12.0 * s);
  }
  cairo_restore(cr);
}

Cairo::RefPtr<Cairo::ImageSurface> render_plot(const Plot_object& plot, int width, int height) {
  auto image =
      Cairo::ImageSurface::create(Cairo::FORMAT_ARGB32, std::max(width, 0), std::max(height, 0));
  paint_plot(Cairo::Context::create(image), plot, width, height);
  image->flush();
  return image;
}

}  // namespace kelvora
