#pragma once
// The window of a plot: a menu bar with one menu "File" ("Save As...",
// "Print...", "Close") over a drawing area that shows the last drawing of
// the plot. The window only changes its plot handle's display state; the
// drawing itself is done by the display loop, display_in_window. This code
// is built into the window module (kelvora-window.so), which the program
// loads only when a window is to be shown, and into the window's tests.

#include <gtkmm/box.h>
#include <gtkmm/drawingarea.h>
#include <gtkmm/menu.h>
#include <gtkmm/menubar.h>
#include <gtkmm/menuitem.h>
#include <gtkmm/printsettings.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "plot/image_files.hpp"
#include "plot/plot_modules.hpp"
#include "plot/zozuv.hpp"

namespace kelvora {

// The program's services that the window uses (its interruption flag, its
// end, its plot handles): set once, before the first window.
void set_window_host(const Module_host& host);

// Shows the plot in a new window, redraws it whenever its size has settled
// after a change, and returns when the user has closed it (or an
// interruption was requested). The display must be open.
void display_in_window(zozuv::Plot_handle* plot);

// Opens the display for GTK once per process; false when there is none.
bool open_display();

// Runs the window events for `duration`, then returns.
void run_events_for(std::chrono::milliseconds duration);
// Runs the window events that are waiting, then returns.
void run_pending_events();

// The print settings of the session: each print dialog starts from the
// choices of the last one.
Glib::RefPtr<Gtk::PrintSettings>& plot_print_settings();

// The file that Save As writes for the name chosen in its dialog and the
// dialog's file type: a name that ends in an image extension keeps it and
// its format; with the bitmap filter, a name without a three-letter
// extension gets ".BMP"; with another filter, the filter's extension is
// added.
struct Save_choice {
  std::string file_name;
  Image_format format;
};
Save_choice save_file_choice(const std::string& name, Image_format filter);

enum class Menu_command { save_as, print, close };

class Plot_window {
 public:
  // The window of the plot handle numbered `handle_id`.
  explicit Plot_window(int handle_id);
  ~Plot_window();
  Plot_window(const Plot_window&) = delete;
  Plot_window& operator=(const Plot_window&) = delete;

  void set_title(const std::string& title) { window_.set_title(title); }
  void present();
  // The size of the drawing area in pixels.
  int width() const { return area_.get_allocated_width(); }
  int height() const { return area_.get_allocated_height(); }
  // Device pixels per pixel of the size above (2 on many high-resolution screens).
  int scale_factor() const { return std::max(1, area_.get_scale_factor()); }
  // Shows a white area until the next picture.
  void clear();
  void show_picture(const Cairo::RefPtr<Cairo::ImageSurface>& picture);

  Gtk::Window& window() { return window_; }
  Gtk::MenuItem& menu_item(Menu_command command);

 private:
  void save_as();
  void print();
  void report_error(const std::string& text);

  int handle_id_;
  Gtk::Window window_;
  Gtk::Box layout_{Gtk::ORIENTATION_VERTICAL};
  Gtk::MenuBar menu_bar_;
  Gtk::MenuItem file_item_{"File"};
  Gtk::Menu file_menu_;
  Gtk::MenuItem save_as_item_{"Save As..."};
  Gtk::MenuItem print_item_{"Print..."};
  Gtk::MenuItem close_item_{"Close"};
  Gtk::DrawingArea area_;
  Cairo::RefPtr<Cairo::ImageSurface> picture_;
};

}  // namespace kelvora
