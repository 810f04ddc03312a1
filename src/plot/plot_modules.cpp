#include "plot/plot_modules.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <cstdlib>

#include "util/interruption.hpp"

// Where an installed program keeps its modules, relative to its own folder.
#ifndef KELVORA_INSTALLED_MODULE_DIR
#define KELVORA_INSTALLED_MODULE_DIR "../lib/kelvora"
#endif

namespace kelvora {

namespace {

namespace fs = std::filesystem;

// The files a module is looked for in, in order.
std::vector<fs::path> module_candidates(const char* file) {
  if (const char* dir = std::getenv("KELVORA_MODULE_DIR"); dir != nullptr && *dir != '\0')
    return {fs::path(dir) / file};
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {fs::path(file)};
  const fs::path folder = program.parent_path();
  return {folder / file, (folder / KELVORA_INSTALLED_MODULE_DIR / file).lexically_normal()};
}

struct Loaded_module {
  void* entry = nullptr;  // the module's entry point
  std::string problem;    // why there is none
};

// Loads the first of the candidate files that exists and finds its entry
// point. The library stays loaded for the rest of the process.
Loaded_module load_module(const char* file, const char* entry_name) {
  const std::vector<fs::path> candidates = module_candidates(file);
  for (const fs::path& path : candidates) {
    std::error_code error;
    if (!fs::exists(path, error)) continue;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* reason = dlerror();
      return {nullptr, reason != nullptr ? reason : path.string() + ": cannot be loaded"};
    }
    void* entry = dlsym(library, entry_name);
    if (entry == nullptr) return {nullptr, path.string() + " has no entry " + entry_name};
    return {entry, {}};
  }
  std::string places;
  for (const fs::path& path : candidates) {
    places += (places.empty() ? "" : " or ") + path.parent_path().string();
  }
  return {nullptr, std::string(file) + " is not in " + places};
}

}  // namespace

const Module_host& program_host() {
  static const Module_host host{interruption_requested, end_at_once, zozuv::find_handle};
  return host;
}

namespace {

// Loads a module and asks its entry point for its functions, which it
// refuses when it was built for other plot records.
template <class Module, class... Lent>
std::pair<const Module*, std::string> load(const char* file, const char* entry_name,
                                           const Lent*... lent) {
  const Loaded_module loaded = load_module(file, entry_name);
  if (loaded.entry == nullptr) return {nullptr, loaded.problem};
  const Module_check check;
  using Entry = const Module* (*)(const Module_check*, const Lent*...);
  const Module* module = reinterpret_cast<Entry>(loaded.entry)(&check, lent...);
  if (module == nullptr)
    return {nullptr, std::string(file) + " was built for another version of the program"};
  return {module, {}};
}

}  // namespace

const Drawing_module* drawing_module(std::string& problem) {
  static const auto loaded = load<Drawing_module>("kelvora-drawing.so", "kelvora_drawing_module");
  problem = loaded.second;
  return loaded.first;
}

const Window_module* window_module(std::string& problem) {
  static const auto loaded =
      load<Window_module>("kelvora-window.so", "kelvora_window_module", &program_host());
  problem = loaded.second;
  return loaded.first;
}

}  // namespace kelvora
