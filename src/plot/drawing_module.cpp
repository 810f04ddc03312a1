// The entry point of the drawing module (kelvora-drawing.so): the program
// loads this file's library when it first writes a plot image.

#include "plot/image_files.hpp"
#include "plot/plot_modules.hpp"
#include "plot/zozuv.hpp"

extern "C" __attribute__((visibility("default"))) const kelvora::Drawing_module*
kelvora_drawing_module(const kelvora::Module_check* check) {
  using namespace kelvora;
  static const Drawing_module module{write_plot_image};
  const Module_check own{plot_module_interface, sizeof(zozuv::Plot_handle), sizeof(Plot_object)};
  if (check == nullptr || check->interface != own.interface ||
      check->handle_size != own.handle_size || check->plot_size != own.plot_size)
    return nullptr;
  return &module;
}
