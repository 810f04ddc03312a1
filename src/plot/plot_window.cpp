#include "plot/plot_window.hpp"

#include <gdk/gdkx.h>
#include <glibmm/miscutils.h>
#include <gtk/gtk.h>
#include <gtkmm/filechooserdialog.h>
#include <gtkmm/main.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/printoperation.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <optional>

#include "plot/image_files.hpp"
#include "plot/painter.hpp"
#include "plot/zozuv.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

Module_host host;

zozuv::Plot_handle* find_handle(int id) {
  return host.find_handle != nullptr ? host.find_handle(id) : nullptr;
}

bool interruption_requested() {
  return host.interruption_requested != nullptr && host.interruption_requested();
}

// The X connection was lost (a killed server, a dropped remote display):
// Xlib ends the process after this handler in any case. The result files
// were complete before the first plot was shown, so the session can end at
// once, saying so, and without the lock on the stem left behind.
int on_display_lost(Display*) {
  constexpr char message[] =
      "\nThe plot window lost its display connection; the session ends. The result\n"
      "files of the analysis were complete before the plot was shown.\n";
  const ssize_t ignored = ::write(STDOUT_FILENO, message, sizeof message - 1);
  (void)ignored;
  if (host.end_at_once != nullptr) host.end_at_once(1);
  std::_Exit(1);
}

constexpr int default_width = 800;
constexpr int default_height = 600;

struct Save_filter {
  const char* name;
  const char* extension;  // lower case, without the dot
  Image_format format;
};

// The first filter is the dialog's initial choice.
constexpr std::array<Save_filter, 4> save_filters{{
    {"Bitmap files (*.bmp)", "bmp", Image_format::bmp},
    {"PNG images (*.png)", "png", Image_format::png},
    {"SVG drawings (*.svg)", "svg", Image_format::svg},
    {"PDF documents (*.pdf)", "pdf", Image_format::pdf},
}};

// The display state of the window's handle changes only through here, and
// only while the handle is alive.
void request_state(int handle_id, zozuv::Display_state state) {
  if (zozuv::Plot_handle* handle = find_handle(handle_id)) handle->state = state;
}

// Closes a window that display_in_window made, and runs the events that
// its closing leaves.
void close_window(Plot_window* window) {
  delete window;
  run_pending_events();
}

}  // namespace

void set_window_host(const Module_host& program) {
  host = program;
}

bool open_display() {
  static std::optional<bool> opened;
  if (opened) return *opened;
  if (!display_named()) {
    opened = false;
    return false;
  }
  // The numbers of the reports are written in the C locale whatever the
  // desktop's language, and the window needs no accessibility bus.
  gtk_disable_setlocale();
  setenv("NO_AT_BRIDGE", "1", 0);
  opened = gtk_init_check(nullptr, nullptr) != FALSE;
  if (*opened) Gtk::Main::init_gtkmm_internals();
  if (*opened && GDK_IS_X11_DISPLAY(gdk_display_get_default())) XSetIOErrorHandler(on_display_lost);
  return *opened;
}

void run_events_for(std::chrono::milliseconds duration) {
  bool done = false;
  g_timeout_add(
      static_cast<guint>(duration.count()),
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &done);
  while (!done) g_main_context_iteration(nullptr, TRUE);
}

void run_pending_events() {
  // Bounded, so that a source that is always ready cannot hold the caller.
  for (int i = 0; i < 1000 && g_main_context_pending(nullptr); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
}

Glib::RefPtr<Gtk::PrintSettings>& plot_print_settings() {
  static Glib::RefPtr<Gtk::PrintSettings> settings = Gtk::PrintSettings::create();
  return settings;
}

Save_choice save_file_choice(const std::string& name, Image_format filter) {
  if (const auto format = image_format_of(name)) return {name, *format};
  if (filter == Image_format::bmp) {
    // A name without a three-letter extension gets ".BMP".
    const bool has_extension = name.size() >= 4 && name[name.size() - 4] == '.';
    return {has_extension ? name : name + ".BMP", Image_format::bmp};
  }
  for (const Save_filter& f : save_filters) {
    if (f.format == filter) return {name + "." + f.extension, filter};
  }
  return {name, filter};
}

Plot_window::Plot_window(int handle_id) : handle_id_(handle_id) {
  window_.set_title("ZOzuv");
  const auto accelerators = Gtk::AccelGroup::create();
  window_.add_accel_group(accelerators);
  save_as_item_.add_accelerator("activate", accelerators, GDK_KEY_s, Gdk::CONTROL_MASK,
                                Gtk::ACCEL_VISIBLE);
  print_item_.add_accelerator("activate", accelerators, GDK_KEY_p, Gdk::CONTROL_MASK,
                              Gtk::ACCEL_VISIBLE);
  close_item_.add_accelerator("activate", accelerators, GDK_KEY_w, Gdk::CONTROL_MASK,
                              Gtk::ACCEL_VISIBLE);
  file_menu_.append(save_as_item_);
  file_menu_.append(print_item_);
  file_menu_.append(close_item_);
  file_item_.set_submenu(file_menu_);
  menu_bar_.append(file_item_);
  layout_.pack_start(menu_bar_, Gtk::PACK_SHRINK);
  layout_.pack_start(area_, Gtk::PACK_EXPAND_WIDGET);
  window_.add(layout_);

  area_.signal_draw().connect([this](const Cairo::RefPtr<Cairo::Context>& cr) {
    cr->set_source_rgb(1.0, 1.0, 1.0);
    cr->paint();
    if (picture_) {
      cr->set_source(picture_, 0.0, 0.0);
      cr->paint();
    }
    return true;
  });
  // A new size asks for a new drawing; the display loop waits until the
  // size settles before it draws.
  area_.signal_size_allocate().connect([this](Gtk::Allocation& allocation) {
    zozuv::Plot_handle* handle = find_handle(handle_id_);
    if (handle == nullptr || handle->state != zozuv::Display_state::idle || !picture_) return;
    if (allocation.get_width() != picture_->get_width() ||
        allocation.get_height() != picture_->get_height()) {
      handle->state = zozuv::Display_state::redraw;
    }
  });
  window_.signal_delete_event().connect([this](GdkEventAny*) {
    request_state(handle_id_, zozuv::Display_state::closed);
    return true;  // the display loop closes the window
  });
  close_item_.signal_activate().connect(
      [this] { request_state(handle_id_, zozuv::Display_state::closed); });
  save_as_item_.signal_activate().connect([this] { save_as(); });
  print_item_.signal_activate().connect([this] { print(); });

  layout_.show_all();
  // The drawing area, not the window with its menu bar, is 800 × 600.
  int menu_minimum = 0;
  int menu_natural = 0;
  menu_bar_.get_preferred_height(menu_minimum, menu_natural);
  window_.set_default_size(default_width, default_height + menu_natural);
}

Plot_window::~Plot_window() {
  window_.hide();
}

void Plot_window::present() {
  window_.present();
}

void Plot_window::clear() {
  picture_.clear();
  area_.queue_draw();
}

void Plot_window::show_picture(const Cairo::RefPtr<Cairo::ImageSurface>& picture) {
  picture_ = picture;
  area_.queue_draw();
}

Gtk::MenuItem& Plot_window::menu_item(Menu_command command) {
  switch (command) {
    case Menu_command::save_as:
      return save_as_item_;
    case Menu_command::print:
      return print_item_;
    case Menu_command::close:
      break;
  }
  return close_item_;
}

void Plot_window::save_as() {
  zozuv::Plot_handle* handle = find_handle(handle_id_);
  if (handle == nullptr) return;
  Gtk::FileChooserDialog dialog(window_, "Save As", Gtk::FILE_CHOOSER_ACTION_SAVE);
  dialog.add_button("_Cancel", Gtk::RESPONSE_CANCEL);
  dialog.add_button("_Save", Gtk::RESPONSE_ACCEPT);
  dialog.set_default_response(Gtk::RESPONSE_ACCEPT);
  dialog.set_do_overwrite_confirmation(true);
  dialog.set_current_folder(Glib::get_current_dir());
  std::vector<std::pair<Glib::RefPtr<Gtk::FileFilter>, Image_format>> filters;
  for (const Save_filter& f : save_filters) {
    auto filter = Gtk::FileFilter::create();
    filter->set_name(f.name);
    filter->add_pattern(std::string("*.") + f.extension);
    filter->add_pattern("*." + uppercase(f.extension));
    dialog.add_filter(filter);
    filters.emplace_back(filter, f.format);
  }
  if (dialog.run() != Gtk::RESPONSE_ACCEPT) return;
  const std::string chosen = dialog.get_filename();
  Image_format format = Image_format::bmp;
  for (const auto& [filter, filter_format] : filters) {
    if (dialog.get_filter() == filter) format = filter_format;
  }
  dialog.hide();
  if (chosen.empty()) return;
  const Save_choice choice = save_file_choice(chosen, format);
  // The picture is written at the size it has on the screen.
  if (!write_plot_image(handle->plot, choice.file_name, choice.format, width(), height())) {
    report_error("Cannot write file " + choice.file_name);
  }
}

void Plot_window::print() {
  zozuv::Plot_handle* handle = find_handle(handle_id_);
  if (handle == nullptr) return;
  const Plot_object& plot = handle->plot;
  const double plot_width = width();
  const double plot_height = height();
  const auto operation = Gtk::PrintOperation::create();
  operation->set_n_pages(1);
  operation->set_job_name("");
  operation->set_print_settings(plot_print_settings());
  // The whole plot on one page, as large as the printable area allows and
  // centred, with the proportions it has on the screen.
  operation->signal_draw_page().connect(
      [&plot, plot_width, plot_height](const Glib::RefPtr<Gtk::PrintContext>& context, int) {
        const Cairo::RefPtr<Cairo::Context> cr = context->get_cairo_context();
        const double page_width = context->get_width();
        const double page_height = context->get_height();
        const double scale = std::min(page_width / plot_width, page_height / plot_height);
        cr->translate((page_width - scale * plot_width) / 2.0,
                      (page_height - scale * plot_height) / 2.0);
        cr->scale(scale, scale);
        paint_plot(cr, plot, plot_width, plot_height);
      });
  try {
    const Gtk::PrintOperationResult result =
        operation->run(Gtk::PRINT_OPERATION_ACTION_PRINT_DIALOG, window_);
    if (result == Gtk::PRINT_OPERATION_RESULT_APPLY) {
      // Keep the printer and its options for the next print.
      plot_print_settings() = operation->get_print_settings();
    }
  } catch (const Glib::Error& error) {
    report_error("Cannot print the plot: " + std::string(error.what()));
  }
}

void Plot_window::report_error(const std::string& text) {
  Gtk::MessageDialog dialog(window_, text, false, Gtk::MESSAGE_ERROR, Gtk::BUTTONS_OK, true);
  dialog.run();
}

void display_in_window(zozuv::Plot_handle* plot) {
  if (plot == nullptr) return;
  if (!plot->window) plot->window = {new Plot_window(plot->id), zozuv::Window_closer{close_window}};
  Plot_window& window = *plot->window;
  const std::string_view title = trim_right(plot->plot.title);
  if (!title.empty()) window.set_title(std::string(title));
  window.present();
  plot->state = zozuv::Display_state::redraw;
  // An interruption closes the window: the session is ending.
  while (plot->state != zozuv::Display_state::closed && !interruption_requested()) {
    if (plot->state == zozuv::Display_state::redraw) {
      // Draw only once the size has stayed the same for 100 ms, so that a
      // user dragging the window's border sees one drawing at the end.
      window.clear();
      int width = 0;
      int height = 0;
      do {
        width = window.width();
        height = window.height();
        run_events_for(std::chrono::milliseconds(100));
      } while (plot->state != zozuv::Display_state::closed &&
               (width != window.width() || height != window.height()));
      if (plot->state == zozuv::Display_state::closed) break;
      // On a high-resolution screen the picture has as many pixels as the
      // screen shows, at the same layout.
      const int scale = window.scale_factor();
      const auto picture = render_plot(plot->plot, width * scale, height * scale);
      cairo_surface_set_device_scale(picture->cobj(), scale, scale);
      window.show_picture(picture);
      plot->state = zozuv::Display_state::idle;
      if (plot->drawn) plot->drawn();
      continue;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  plot->window.reset();
  if (plot->closed) plot->closed();
}

}  // namespace kelvora
