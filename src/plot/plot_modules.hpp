#pragma once
// The two plot modules and how the program loads them. A console session
// starts in a few milliseconds because the program itself links neither
// Cairo, Pango nor GTK: the drawing code lives in a shared module
// (kelvora-drawing.so: Cairo, Pango, GdkPixbuf) that is loaded when the first
// image file is written, and the plot window in another (kelvora-window.so:
// GTK, with its own copy of the drawing code) that is loaded when the first
// window is to be shown. A session with --plots=none, --help or an analysis
// answered from a file without images loads neither.
//
// A module is looked for in the folder named by KELVORA_MODULE_DIR when that
// variable is set, else beside the program (the build tree) and then in the
// module folder of an installed program (lib/kelvora beside bin/).
//
// The program and its modules are built together; a module built for other
// plot records is refused by its interface version and record sizes.

#include <cstddef>
#include <cstdlib>
#include <string>

#include "plot/image_format.hpp"
#include "plot/plot_object.hpp"
#include "plot/zozuv.hpp"

namespace kelvora {

// Bumped whenever a structure passed between the program and a module
// changes in a way its size does not show.
constexpr int plot_module_interface = 1;

// What a module must agree on with the program that loads it.
struct Module_check {
  int interface = plot_module_interface;
  std::size_t handle_size = sizeof(zozuv::Plot_handle);
  std::size_t plot_size = sizeof(Plot_object);
  bool operator==(const Module_check&) const = default;
};

// Whether a display is named in the environment (DISPLAY or WAYLAND_DISPLAY);
// without one no window can be opened, and nothing is loaded to try.
inline bool display_named() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The services whose state lives in the program, lent to the window module
// (which has no copy of its own of that state).
struct Module_host {
  bool (*interruption_requested)() noexcept = nullptr;
  // Ends the process at once with `status` (a lost display connection).
  void (*end_at_once)(int status) noexcept = nullptr;
  // The live plot handle numbered `id`, or null.
  zozuv::Plot_handle* (*find_handle)(int id) = nullptr;
};

struct Drawing_module {
  // Writes `plot` drawn at width × height to an image file; false when the
  // file cannot be written.
  bool (*write_plot_image)(const Plot_object& plot, const std::string& file_name,
                           Image_format format, int width, int height) = nullptr;
};

struct Window_module {
  // Opens the display for GTK once per process; false when there is none.
  bool (*open_display)() = nullptr;
  // Shows the plot and returns when the user has closed its window.
  void (*display_plot)(zozuv::Plot_handle* plot) = nullptr;
};

// The modules export one C function each, which returns null when `check`
// does not match its own build:
//   const Drawing_module* kelvora_drawing_module(const Module_check* check);
//   const Window_module* kelvora_window_module(const Module_check* check,
//                                              const Module_host* host);

// The drawing module and the window module, each loaded on its first use
// and kept for the rest of the process. Null when the module cannot be
// loaded; `problem` then says why in one line (the file looked for and the
// loader's reason).
const Drawing_module* drawing_module(std::string& problem);
const Window_module* window_module(std::string& problem);

// The services of this program, as lent to the window module.
const Module_host& program_host();

}  // namespace kelvora
