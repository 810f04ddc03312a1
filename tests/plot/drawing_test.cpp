#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cairomm/context.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "plot/image_files.hpp"
#include "plot/painter.hpp"
#include "plot/scale_axis.hpp"
#include "support/scratch_folder.hpp"

namespace kelvora {
namespace {

namespace fs = std::filesystem;

void expect_axis(std::vector<double> values, double min, double max, double step) {
  const Axis_scale a = scale_axis(values);
  EXPECT_NEAR(a.min, min, 1e-12);
  EXPECT_NEAR(a.max, max, 1e-12);
  EXPECT_NEAR(a.step, step, 1e-12);
}

TEST(ScaleAxis, RoundsOutwardToReadableSteps) {
  // 1.1 * 6.1 = 6.71 units of 1: step 1, ends on the integers outside.
  expect_axis({-11.2, -8.0, -5.1}, -12.0, -5.0, 1.0);
  // 1.1 * 0.46 = 0.506 = 5.06 units of 0.1: step 0.1.
  expect_axis({0.48, 0.02, 0.3}, 0.0, 0.5, 0.1);
  // 1.1 * 1.2 = 1.32 units of 1: step 0.2, 0 ... 1.2 spans six steps.
  expect_axis({0.0, 1.2}, 0.0, 1.2, 0.2);
  // 1.1 * 1.5 = 1.65 units: step 0.5, three steps are enough.
  expect_axis({0.0, 1.5}, 0.0, 1.5, 0.5);
  // 1.1 * 3 = 3.3 units: step 1, widened from three steps to four.
  expect_axis({0.0, 3.0}, 0.0, 4.0, 1.0);
  // Equal values: 0.9 v ... 1.1 v in five steps; zero: -1 ... 1.
  expect_axis({0.3, 0.3, 0.3}, 0.27, 0.33, 0.012);
  expect_axis({0.0, 0.0}, -1.0, 1.0, 0.4);
}

Plot_object saturation_plot() {
  Plot_object p;
  p.title = "EX1_SAT: Saturation   ";
  p.x = {false, 10.0, false, -12.6, -4.75, "LOG[Total Ligand]"};
  p.y = {false, 10.0, false, 0.0, 0.575, "Bound / Total "};
  Plot_series obs{{}, {}, Series_type::large_dots, {0, 0, 255}, "SSQR =  1.2345E+02"};
  Plot_series pred{{}, {}, Series_type::line, {0, 0, 255}, "Kd1 [M] =  1.0000E-09     "};
  for (int i = 0; i < 12; ++i) {
    const double x = -11.2 + i * (6.1 / 11.0);
    const double y = 0.48 / (1.0 + std::pow(10.0, x + 9.0)) + 0.02;
    obs.x.push_back(x);
    obs.y.push_back(y + (i % 2 ? 0.015 : -0.015));
    pred.x.push_back(x);
    pred.y.push_back(y);
  }
  p.series = {obs, pred};
  return p;
}

struct Pixels {
  Cairo::RefPtr<Cairo::ImageSurface> image;
  std::uint32_t at(double x, double y) const {
    std::uint32_t word;
    std::memcpy(
        &word,
        image->get_data() + static_cast<int>(y) * image->get_stride() + 4 * static_cast<int>(x),
        sizeof word);
    return word;
  }
  bool dark_in(double x0, double y0, double x1, double y1) const {
    for (double y = y0; y < y1; ++y)
      for (double x = x0; x < x1; ++x)
        if ((at(x, y) & 0xFF) < 100) return true;
    return false;
  }
  int blue_count() const {
    int n = 0;
    for (int y = 0; y < image->get_height(); ++y)
      for (int x = 0; x < image->get_width(); ++x) n += at(x, y) == 0xFF0000FFu;
    return n;
  }
};

TEST(Painter, DrawsSeriesTitleAndCaptionsWhereExpected) {
  const Plot_object plot = saturation_plot();
  const Pixels px{render_plot(plot, 800, 600)};
  const Plot_frame f = plot_frame(plot, 800, 600);
  EXPECT_DOUBLE_EQ(f.x.min, -12.6);
  EXPECT_DOUBLE_EQ(f.y.max, 0.575);
  EXPECT_NEAR(f.x.step, 1.0, 1e-12);  // ticks -12, -11, ..., -5
  EXPECT_LT(f.left, f.right);
  EXPECT_LT(f.top, f.bottom);
  for (int i : {0, 7}) {
    const double x = f.x_pixel(plot.series[0].x[i]);
    const double y = f.y_pixel(plot.series[0].y[i]);
    EXPECT_EQ(px.at(x, y), 0xFF0000FFu) << "point " << i;
  }
  // Left of the first point and well below the curve: empty.
  EXPECT_EQ(px.at(f.x_pixel(-12.3), f.y_pixel(0.15)), 0xFFFFFFFFu);
  EXPECT_TRUE(px.dark_in(300, 0, 500, f.top));                      // title
  EXPECT_TRUE(px.dark_in(300, f.bottom + 25, 500, 600));            // x caption
  EXPECT_TRUE(px.dark_in(0, 200, 30, 400));                         // y caption
  EXPECT_FALSE(px.dark_in(f.right + 3, f.top + 3, 800, f.bottom));  // right margin empty
}

TEST(Painter, PaintsOnlyInsideItsBox) {
  auto image = Cairo::ImageSurface::create(Cairo::FORMAT_ARGB32, 800, 600);
  paint_plot(Cairo::Context::create(image), saturation_plot(), 400, 300);
  image->flush();
  const Pixels px{image};
  int outside = 0;
  for (int y = 0; y < 600; ++y)
    for (int x = 0; x < 800; ++x)
      if (x >= 400 || y >= 300) outside += px.at(x, y) != 0u;
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(px.at(399, 299), 0xFFFFFFFFu);
}

TEST(Painter, DegenerateDataStillDraws) {
  Plot_object one = saturation_plot();
  for (auto& s : one.series) s.x.resize(1), s.y.resize(1);
  one.x.autoscale = one.y.autoscale = true;
  Plot_object equal = saturation_plot();
  equal.y.autoscale = true;
  equal.series[0].y.assign(12, 0.3);
  equal.series[1].y.assign(12, 0.3);
  equal.series[1].y[5] = std::nan("");
  Plot_object none;
  none.x.min = none.x.max = 2.0;
  none.x.autoscale = false;
  for (const Plot_object& p : {one, equal}) {
    const Plot_frame f = plot_frame(p, 800, 600);
    EXPECT_TRUE(std::isfinite(f.x.min));
    EXPECT_TRUE(std::isfinite(f.y.max));
    EXPECT_TRUE(f.y.max > f.y.min);
    EXPECT_GT(Pixels{render_plot(p, 800, 600)}.blue_count(), 20);
  }
  const Plot_frame f = plot_frame(none, 800, 600);
  EXPECT_LT(f.x.min, 2.0);
  EXPECT_GT(f.x.max, 2.0);
  EXPECT_EQ(render_plot(none, 800, 600)->get_width(), 800);
}

// The first n bytes of a file.
std::string file_start(const std::string& name, std::size_t n) {
  return testing::read_text(name).substr(0, n);
}

TEST(ImageFiles, WritesEachFormatCompletelyOrNotAtAll) {
  EXPECT_EQ(image_format_of("a.PNG"), Image_format::png);
  EXPECT_EQ(image_format_of("b.svg"), Image_format::svg);
  EXPECT_EQ(image_format_of("c.pdf"), Image_format::pdf);
  EXPECT_EQ(image_format_of("d.bmp"), Image_format::bmp);
  EXPECT_EQ(image_format_of("plot1"), std::nullopt);
  EXPECT_EQ(image_format_of("x.txt"), std::nullopt);

  const Plot_object plot = saturation_plot();
  const mode_t mask = umask(022);
  ASSERT_TRUE(write_plot_image(plot, "plot.png", Image_format::png, 800, 600));
  umask(mask);
  // Readable by others like any new file, not private like a temporary.
  EXPECT_NE(std::filesystem::status("plot.png").permissions() & std::filesystem::perms::others_read,
            std::filesystem::perms::none);
  const auto png = Cairo::ImageSurface::create_from_png("plot.png");
  EXPECT_EQ(png->get_width(), 800);
  EXPECT_EQ(png->get_height(), 600);
  // The picture read back is the one drawn, colour channels in place: a
  // data point is blue on white.
  const Plot_frame frame = plot_frame(plot, 800, 600);
  const auto pixel = [&](double x, double y) {
    std::uint32_t word;
    std::memcpy(&word,
                png->get_data() + static_cast<int>(y) * png->get_stride() + 4 * static_cast<int>(x),
                4);
    return word & 0xFFFFFFu;
  };
  EXPECT_EQ(pixel(frame.x_pixel(plot.series[0].x[3]), frame.y_pixel(plot.series[0].y[3])),
            0x0000FFu);
  EXPECT_EQ(pixel(2, 2), 0xFFFFFFu);
  ASSERT_TRUE(write_plot_image(plot, "plot.svg", Image_format::svg, 800, 600));
  const std::string svg = file_start("plot.svg", 200);
  EXPECT_TRUE(svg.starts_with("<?xml") || svg.starts_with("<svg")) << svg;
  ASSERT_TRUE(write_plot_image(plot, "plot.pdf", Image_format::pdf, 800, 600));
  EXPECT_EQ(file_start("plot.pdf", 4), "%PDF");

  ASSERT_TRUE(write_plot_image(plot, "plot.bmp", Image_format::bmp, 800, 600));
  const std::string bmp = file_start("plot.bmp", 54);
  auto u32 = [&](int at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bmp[at + i]);
    return v;
  };
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(u32(2), fs::file_size("plot.bmp"));
  EXPECT_EQ(u32(18), 800u);
  EXPECT_EQ(u32(22), 600u);
  EXPECT_EQ(u32(28) & 0xFFFF, 24u);  // bits per pixel
  EXPECT_GE(fs::file_size("plot.bmp"), 54u + 800u * 600u * 3u);
  // Rows run bottom-up, 2400 bytes each, pixels blue-green-red: a data point is blue.
  const Plot_frame f = plot_frame(plot, 800, 600);
  const int col = static_cast<int>(f.x_pixel(plot.series[0].x[3]));
  const int row = 599 - static_cast<int>(f.y_pixel(plot.series[0].y[3]));
  const std::string pixels = testing::read_text("plot.bmp").substr(u32(10));
  EXPECT_EQ(pixels.substr(row * 2400 + 3 * col, 3), std::string("\xFF\0\0", 3));

  // Failures: a missing folder, an image too large for Cairo, a folder in
  // the way of the final name. An older file keeps its content and no
  // temporary is left behind.
  EXPECT_FALSE(write_plot_image(plot, "no_such_dir/p.png", Image_format::png, 80, 60));
  std::ofstream("old.png") << "older";
  EXPECT_FALSE(write_plot_image(plot, "old.png", Image_format::png, 40000, 600));
  EXPECT_EQ(file_start("old.png", 10).substr(0, 5), "older");
  fs::create_directory("taken.svg");
  EXPECT_FALSE(write_plot_image(plot, "taken.svg", Image_format::svg, 80, 60));
  EXPECT_TRUE(fs::is_directory("taken.svg"));
  for (const auto& entry : fs::directory_iterator("."))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace kelvora
