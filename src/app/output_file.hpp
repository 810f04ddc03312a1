#pragma once
// A text output file of one analysis. An older file of the same name is kept
// until the analysis has something to write: `reserve` only checks that the
// file can be written (creating it, empty, when there was none), `begin`
// replaces the old contents, and a file reserved but never begun is put back
// as it was (removed when this run created it). Streams flush and close on
// every exit path.

#include <fstream>
#include <string>

namespace kelvora {

class Output_file {
 public:
  Output_file() = default;
  ~Output_file() { abandon(); }
  Output_file(const Output_file&) = delete;
  Output_file& operator=(const Output_file&) = delete;

  // Checks that `name` can be written without changing an existing file;
  // false when it cannot (a folder of that name, a missing or read-only folder).
  bool reserve(const std::string& name);
  // Replaces the reserved file's contents with an empty file open for
  // writing; false when that fails.
  bool begin();
  // reserve, then begin.
  bool create(const std::string& name) { return reserve(name) && begin(); }
  // Undoes a reservation that was never begun.
  void abandon();
  // Closes the stream; false when anything written to it was lost.
  bool close();

  bool is_open() const { return stream_.is_open(); }
  std::ofstream& stream() { return stream_; }
  const std::string& name() const { return name_; }

 private:
  std::ofstream stream_;
  std::string name_;
  bool reserved_ = false;  // reserved, not yet begun
  bool created_ = false;   // the reservation created the file
  bool failed_ = false;    // a write or close failed
};

}  // namespace kelvora
