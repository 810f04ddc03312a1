// The entry point of the window module (kelvora-window.so): the program
// loads this file's library when it first shows a plot window.

#include "plot/plot_modules.hpp"
#include "plot/plot_window.hpp"
#include "plot/zozuv.hpp"

extern "C" __attribute__((visibility("default"))) const kelvora::Window_module*
kelvora_window_module(const kelvora::Module_check* check, const kelvora::Module_host* host) {
  using namespace kelvora;
  static const Window_module module{open_display, display_in_window};
  if (check == nullptr || host == nullptr || *check != Module_check{}) return nullptr;
  set_window_host(*host);
  return &module;
}
