// The plot modules as the program loads them: nothing graphical is loaded
// before a plot needs it, the window module shows a plot under a display,
// and a missing module falls back to image files with one line saying why.
// The fallbacks run in forked children, since a process loads each module
// only once.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "plot/curve_plot.hpp"
#include "support/scratch_folder.hpp"
#include "util/console.hpp"

namespace kelvora {
namespace {

namespace fs = std::filesystem;

bool mapped(const std::string& library) {
  return testing::read_text("/proc/self/maps").find(library) != std::string::npos;
}

Curve_plot three_points() {
  Curve_plot curve;
  curve.log_total = {-10.0, -9.0, -8.0};
  curve.observed = {0.4, 0.25, 0.1};
  curve.predicted = {0.41, 0.24, 0.11};
  curve.legend = {"A.CRV: Saturation", "SSQR =  1.0000E-01", "Kd1 [M] =  1.0000E-09", "", ""};
  return curve;
}

// Plots the curve twice with the modules of `module_dir` and a display named
// in the environment; the child's exit status says whether the console
// transcript was `expected`, which it prints otherwise.
void expect_two_plots(const std::string& module_dir, Plot_mode mode, const std::string& expected) {
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        setenv("KELVORA_MODULE_DIR", module_dir.c_str(), 1);
        setenv("DISPLAY", ":97", 1);
        std::istringstream in;
        std::ostringstream out;
        Console console(in, out, false);
        Plot_mode session_mode = mode;
        plot(console, three_points(), session_mode, "c1");
        plot(console, three_points(), session_mode, "c2");
        if (out.str() != expected) std::cerr << out.str();
        std::exit(out.str() == expected ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(PlotModules, AMissingModuleIsNamedAndThePlotsGoOnAsFiles) {
  const testing::Scratch_folder folder;
  fs::create_directory("drawing_only");
  fs::create_symlink(fs::path(KELVORA_MODULE_BUILD_DIR) / "kelvora-drawing.so",
                     "drawing_only/kelvora-drawing.so");
  // No window module: said once, even when windows were only presumed, and
  // both plots are written as PNG files.
  expect_two_plots("drawing_only", Plot_mode::automatic,
                   " The plot window cannot be shown (kelvora-window.so is not in drawing_only): "
                   "the plots are written to PNG files.\n"
                   " Plot saved to: c1.png\n"
                   " Plot saved to: c2.png\n");
  EXPECT_GT(fs::file_size("c2.png"), 1000u);

  // No drawing module: each plot fails as a file that cannot be written.
  fs::create_directory("none");
  expect_two_plots("none", Plot_mode::svg,
                   "ERROR: Cannot write file c1.svg\n"
                   " The plot cannot be drawn (kelvora-drawing.so is not in none).\n"
                   "ERROR: Cannot write file c2.svg\n"
                   " The plot cannot be drawn (kelvora-drawing.so is not in none).\n");
  EXPECT_FALSE(fs::exists("c1.svg"));
}

TEST(PlotModules, GtkIsLoadedOnlyWhenAWindowIsShown) {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') GTEST_SKIP() << "no display";
  EXPECT_FALSE(mapped("libgtk-3"));
  EXPECT_FALSE(mapped("libcairo"));
  zozuv::Plot_handle* handle = initialize_curve_plot(three_points());
  int drawings = 0;
  int closings = 0;
  // Closing from the drawn signal is what the window's Close item does.
  handle->drawn = [&] {
    ++drawings;
    handle->state = zozuv::Display_state::closed;
  };
  handle->closed = [&] { ++closings; };
  std::string problem;
  ASSERT_TRUE(zozuv::display_plot(handle, &problem)) << problem;
  EXPECT_EQ(drawings, 1);
  EXPECT_EQ(closings, 1);
  EXPECT_FALSE(handle->window);
  EXPECT_TRUE(mapped("libgtk-3"));
  zozuv::destroy_plot(handle);
}

}  // namespace
}  // namespace kelvora
