// The entry point of the window module (kelvora-window.so): the program
// loads this file's library when it first shows a plot window.

#include "plot/plot_modules.hpp"
#include "plot/plot_window.hpp"
#include "plot/zozuv.hpp"

namespace kelvora {
namespace {

bool open_window_display() {
  return open_display();
}

void display(zozuv::Plot_handle* plot) {
  display_in_window(plot);
}

}  // namespace
}  // namespace kelvora

extern "C" __attribute__((visibility("default"))) const kelvora::Window_module*
kelvora_window_module(const kelvora::Module_check* check, const kelvora::Module_host* host) {
  using namespace kelvora;
  static const Window_module module{open_window_display, display};
  const Module_check own{plot_module_interface, sizeof(zozuv::Plot_handle), sizeof(Plot_object)};
  if (check == nullptr || host == nullptr || check->interface != own.interface ||
      check->handle_size != own.handle_size || check->plot_size != own.plot_size)
    return nullptr;
  set_window_host(*host);
  return &module;
}
