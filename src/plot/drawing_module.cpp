// The entry point of the drawing module (kelvora-drawing.so): the program
// loads this file's library when it first writes a plot image.

#include "plot/image_files.hpp"
#include "plot/plot_modules.hpp"
#include "plot/zozuv.hpp"

extern "C" __attribute__((visibility("default"))) const kelvora::Drawing_module*
kelvora_drawing_module(const kelvora::Module_check* check) {
  using namespace kelvora;
  static const Drawing_module module{write_plot_image};
  if (check == nullptr || *check != Module_check{}) return nullptr;
  return &module;
}
