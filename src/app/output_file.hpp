#pragma once
// A text output file of one analysis. It is created (replacing an old file)
// as a whole or not at all, and flushes and closes on every exit path.

#include <filesystem>
#include <fstream>
#include <string>

namespace kelvora {

class Output_file {
 public:
  Output_file() = default;
  Output_file(const Output_file&) = delete;
  Output_file& operator=(const Output_file&) = delete;

  // Creates or replaces the file; false when it cannot be created.
  bool create(const std::string& name);
  bool is_open() const { return stream_.is_open(); }
  std::ofstream& stream() { return stream_; }
  const std::string& name() const { return name_; }
  void close();
  // Closes the file and deletes it (used when an analysis cannot start).
  void discard();

 private:
  std::ofstream stream_;
  std::string name_;
};

}  // namespace kelvora
