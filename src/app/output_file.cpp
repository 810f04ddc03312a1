#include "app/output_file.hpp"

#include <filesystem>
#include <system_error>

namespace kelvora {

bool Output_file::reserve(const std::string& name) {
  close();
  abandon();
  name_ = name;
  failed_ = false;
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) return false;
  const bool existed = std::filesystem::exists(name, ec);
  // Opening for appending proves the file writable without touching what it
  // holds; a file that was not there is created empty.
  std::ofstream probe(name, std::ios::out | std::ios::app);
  if (!probe.is_open()) return false;
  probe.close();
  reserved_ = true;
  created_ = !existed;
  return true;
}

bool Output_file::begin() {
  if (!reserved_) return false;
  reserved_ = false;
  created_ = false;
  stream_.open(name_, std::ios::out | std::ios::trunc);
  return stream_.is_open();
}

void Output_file::abandon() {
  if (!reserved_) return;
  reserved_ = false;
  if (created_) {
    std::error_code ec;
    std::filesystem::remove(name_, ec);
  }
  created_ = false;
}

bool Output_file::close() {
  if (stream_.is_open()) {
    stream_.flush();
    if (!stream_) failed_ = true;
    stream_.close();
    if (stream_.fail()) failed_ = true;
  }
  return !failed_;
}

}  // namespace kelvora
