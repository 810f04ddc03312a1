#include "app/output_file.hpp"

#include <system_error>

namespace kelvora {

bool Output_file::create(const std::string& name) {
  close();
  name_ = name;
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) return false;
  stream_.open(name, std::ios::out | std::ios::trunc);
  return stream_.is_open();
}

void Output_file::close() {
  if (stream_.is_open()) stream_.close();
}

void Output_file::discard() {
  if (!stream_.is_open()) return;
  stream_.close();
  std::error_code ec;
  std::filesystem::remove(name_, ec);
}

}  // namespace kelvora
