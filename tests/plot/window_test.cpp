// The plot of a fitted curve as the program builds it, and its window: run
// under a virtual X server; the window tests are skipped without a display.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>
#include <gtkmm/filechooserdialog.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "plot/curve_plot.hpp"
#include "plot/plot_window.hpp"
#include "support/scratch_folder.hpp"

namespace kelvora {
namespace {

using zozuv::Plot_handle;

// Twelve points of a one-site saturation curve, x from -11.2 to -5.1 and
// predicted B/T from 0.48 down to 0.02.
Curve_plot saturation_plot() {
  Curve_plot curve;
  for (int i = 0; i < 12; ++i) {
    const double t = i / 11.0;
    curve.log_total.push_back(-11.2 + 6.1 * t);
    curve.predicted.push_back(0.48 - 0.46 * t * t);
    curve.observed.push_back(curve.predicted.back() * (i % 2 == 0 ? 1.04 : 0.97));
  }
  curve.legend = {"EX1_SAT: Saturation           ", "SSQR =  1.2345E-01            ",
                  "Kd1 [M] =  1.0000E-09         ", std::string(30, ' '), std::string(30, ' ')};
  return curve;
}

TEST(CurvePlot, AxesSeriesAndCaptions) {
  Plot_handle* handle = initialize_curve_plot(saturation_plot());
  const Plot_object& plot = handle->plot;
  // x: scaled to -12 ... -5, widened 5 % each side; y: scaled to 0 ... 0.5,
  // then times 0.5 and 1.15.
  EXPECT_FALSE(plot.x.autoscale);
  EXPECT_NEAR(plot.x.min, -12.6, 1e-12);
  EXPECT_NEAR(plot.x.max, -4.75, 1e-12);
  EXPECT_FALSE(plot.y.autoscale);
  EXPECT_NEAR(plot.y.min, 0.0, 1e-12);
  EXPECT_NEAR(plot.y.max, 0.575, 1e-12);
  // Title and series labels: the legend's lines without their trailing blanks.
  EXPECT_EQ(plot.title, "EX1_SAT: Saturation");
  ASSERT_EQ(plot.series.size(), 2u);
  EXPECT_EQ(plot.series[0].type, Series_type::large_dots);
  EXPECT_EQ(plot.series[0].label, "SSQR =  1.2345E-01");
  EXPECT_EQ(plot.series[0].y, saturation_plot().observed);
  EXPECT_EQ(plot.series[1].type, Series_type::line);
  EXPECT_EQ(plot.series[1].label, "Kd1 [M] =  1.0000E-09");
  zozuv::destroy_plot(handle);
  EXPECT_EQ(handle, nullptr);

  // An observed value far above the predicted ones widens the y axis so that
  // it stays in view.
  Curve_plot outlier = saturation_plot();
  outlier.observed[3] = 0.9;
  handle = initialize_curve_plot(outlier);
  EXPECT_GE(handle->plot.y.max, 0.9);
  zozuv::destroy_plot(handle);
}

TEST(SaveAs, NameAndFormatOfTheChosenFile) {
  const auto expect = [](const std::string& name, Image_format filter, const std::string& file,
                         Image_format format) {
    const Save_choice choice = save_file_choice(name, filter);
    EXPECT_EQ(choice.file_name, file) << name;
    EXPECT_EQ(choice.format, format) << name;
  };
  expect("/tmp/plot1", Image_format::bmp, "/tmp/plot1.BMP", Image_format::bmp);
  expect("/tmp/plot1.bmp", Image_format::bmp, "/tmp/plot1.bmp", Image_format::bmp);
  expect("/tmp/plot1.txt", Image_format::bmp, "/tmp/plot1.txt", Image_format::bmp);
  expect("ab", Image_format::bmp, "ab.BMP", Image_format::bmp);
  expect("/tmp/plot1.SVG", Image_format::bmp, "/tmp/plot1.SVG", Image_format::svg);
  expect("/tmp/plot1", Image_format::pdf, "/tmp/plot1.pdf", Image_format::pdf);
}

// A displayed plot driven by a script: each step runs once the window has
// been drawn (or when the script's condition holds) inside the window's own
// event loop, as a user's clicks would.
class Window_session : public ::testing::Test {
 protected:
  void SetUp() override {
    set_window_host(program_host());
    if (!open_display()) GTEST_SKIP() << "no display";
    handle_ = initialize_curve_plot(saturation_plot());
    handle_->drawn = [this] {
      ++drawings_;
      if (on_drawn_) on_drawn_(*handle_->window);
    };
    handle_->closed = [this] { ++closings_; };
  }
  void TearDown() override { zozuv::destroy_plot(handle_); }

  // Runs `step` every 20 ms until it returns true.
  static void poll(std::function<bool()> step) {
    auto* owned = new std::function<bool()>(std::move(step));
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, 20,
        [](gpointer data) -> gboolean {
          return (*static_cast<std::function<bool()>*>(data))() ? G_SOURCE_REMOVE
                                                                : G_SOURCE_CONTINUE;
        },
        owned, [](gpointer data) { delete static_cast<std::function<bool()>*>(data); });
  }

  // The top-level dialog of GTK type `type` that is showing, or null.
  static GtkWidget* dialog_of_type(GType type) {
    GList* windows = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    for (GList* w = windows; w != nullptr; w = w->next) {
      if (G_TYPE_CHECK_INSTANCE_TYPE(w->data, type) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
        found = GTK_WIDGET(w->data);
    }
    g_list_free(windows);
    return found;
  }

  Plot_handle* handle_ = nullptr;
  std::function<void(Plot_window&)> on_drawn_;
  int drawings_ = 0;
  int closings_ = 0;
};

TEST_F(Window_session, OpensTitledRedrawsOnceWhenResizedAndFileCloseEndsTheDisplay) {
  std::string title;
  int width = 0, height = 0, resized = 0;
  on_drawn_ = [&](Plot_window& window) {
    if (drawings_ == 1) {
      title = window.window().get_title();
      width = window.width(), height = window.height();
      window.window().resize(1000, 800);
      return;
    }
    resized = window.width();
    // Any further drawing would come within this wait.
    poll([&window, start = g_get_monotonic_time()] {
      if (g_get_monotonic_time() - start < 400000) return false;
      window.menu_item(Menu_command::close).activate();
      return true;
    });
  };
  display_in_window(handle_);
  EXPECT_EQ(title, "EX1_SAT: Saturation");
  EXPECT_EQ(width, 800);
  EXPECT_EQ(height, 600);
  EXPECT_EQ(drawings_, 2);
  EXPECT_EQ(resized, 1000);
  EXPECT_EQ(closings_, 1);
  EXPECT_EQ(handle_->window, nullptr);
  EXPECT_EQ(handle_->state, zozuv::Display_state::closed);

  // A plot without a title keeps the window's own title; the close box ends
  // the display as well.
  zozuv::set_title(handle_, "   ");
  on_drawn_ = [&](Plot_window& window) {
    title = window.window().get_title();
    gtk_window_close(window.window().gobj());
  };
  display_in_window(handle_);
  EXPECT_EQ(title, "ZOzuv");
  EXPECT_EQ(closings_, 2);
}

// Reads the width and height of a BMP file's header.
std::pair<std::int32_t, std::int32_t> bmp_size(const std::string& name) {
  const std::string bytes = testing::read_text(name);
  if (bytes.size() < 26 || bytes.compare(0, 2, "BM") != 0) return {0, 0};
  const auto word = [&bytes](std::size_t at) {
    std::int32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v * 256 + static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  return {word(18), std::abs(word(22))};
}

TEST_F(Window_session, SaveAsWritesTheWindowAsABitmap) {
  const testing::Scratch_folder folder;
  std::vector<std::string> names = {"plot1", "plot2.bmp"};
  on_drawn_ = [&](Plot_window& window) {
    for (const std::string& name : names) {
      // The dialog accepts a name only once it has settled: answer it until
      // it closes.
      poll([&name, closed = std::make_shared<bool>(false), dialog = (GtkWidget*)nullptr]() mutable {
        if (dialog == nullptr) {
          dialog = dialog_of_type(GTK_TYPE_FILE_CHOOSER_DIALOG);
          if (dialog == nullptr) return false;
          g_signal_connect_data(
              dialog, "unmap", G_CALLBACK(+[](GtkWidget*, gpointer flag) {
                *static_cast<std::shared_ptr<bool>*>(flag)->get() = true;
              }),
              new std::shared_ptr<bool>(closed),
              [](gpointer flag, GClosure*) { delete static_cast<std::shared_ptr<bool>*>(flag); },
              GConnectFlags{});
        }
        if (*closed) return true;
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), name.c_str());
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
        return false;
      });
      window.menu_item(Menu_command::save_as).activate();  // returns once the file is written
    }
    window.menu_item(Menu_command::close).activate();
  };
  display_in_window(handle_);
  EXPECT_EQ(bmp_size("plot1.BMP"), std::make_pair(800, 600));
  EXPECT_EQ(bmp_size("plot2.bmp"), std::make_pair(800, 600));
  EXPECT_FALSE(std::filesystem::exists("plot2.bmp.BMP"));
}

TEST_F(Window_session, PrintToAFileWritesOnePage) {
  const testing::Scratch_folder folder;
  const std::string pdf = (folder.path() / "printed.pdf").string();
  const auto settings = plot_print_settings();
  settings->set_printer("Print to File");
  settings->set(GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
  settings->set(GTK_PRINT_SETTINGS_OUTPUT_URI, "file://" + pdf);
  on_drawn_ = [&](Plot_window& window) {
    poll([] {
      GtkWidget* dialog = dialog_of_type(GTK_TYPE_PRINT_UNIX_DIALOG);
      if (dialog == nullptr ||
          gtk_print_unix_dialog_get_selected_printer(GTK_PRINT_UNIX_DIALOG(dialog)) == nullptr)
        return false;
      gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
      return true;
    });
    window.menu_item(Menu_command::print).activate();
    window.menu_item(Menu_command::close).activate();
  };
  display_in_window(handle_);
  const std::string bytes = testing::read_text(pdf);
  ASSERT_EQ(bytes.substr(0, 4), "%PDF");
  // One page object: "/Type /Page" not followed by the "s" of the page tree.
  int pages = 0;
  for (auto at = bytes.find("/Type /Page"); at != std::string::npos;
       at = bytes.find("/Type /Page", at + 1)) {
    if (bytes.compare(at + 11, 1, "s") != 0) ++pages;
  }
  EXPECT_EQ(pages, 1);
}

}  // namespace
}  // namespace kelvora
