#pragma once
// Replacing a file safely: the new contents go to a temporary file beside it
// and are renamed over the old file only when every byte is out, so that a
// reader (or a later session) finds either the old file or the whole new one.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kelvora {

// The file that replace_file(name, ...) would write: `name` itself, or the
// final target of a symbolic link `name`. Nothing when `name` cannot be
// replaced: a folder, a device or a write-protected file of that name, a
// dangling link (left alone), or a folder that does not exist or that this
// process may not write to.
std::optional<std::string> replacement_target(const std::string& name);

// Writes `text` to the file `name`, replacing an existing file only once the
// whole text has been written: to a uniquely named temporary beside the
// target (NAME.XXXXXX), flushed to the disk, then renamed over it. A link
// is replaced through (its target gets the new text). False, with nothing of
// the caller's removed or changed, when replacement_target finds no target or
// when writing or renaming fails. `write` puts the text into the open file
// and says whether all of it got there. A replaced file keeps its
// permissions; a new one gets those of any new file of the user.
using Text_writer = bool (*)(std::FILE* file, std::string_view text);
bool write_all(std::FILE* file, std::string_view text);
bool replace_file(const std::string& name, std::string_view text, Text_writer write = write_all);

// replace_file in two steps, for a set of files that must be replaced
// together or not at all: `write` puts the whole text into the temporary
// (nothing when it fails), `commit` renames it over the target; a
// replacement never committed removes its temporary.
class Pending_replacement {
 public:
  static std::optional<Pending_replacement> write(const std::string& name, std::string_view text,
                                                  Text_writer writer = write_all);
  bool commit();
  Pending_replacement(Pending_replacement&& other) noexcept;
  Pending_replacement& operator=(Pending_replacement&&) = delete;
  ~Pending_replacement();

 private:
  Pending_replacement(std::string temporary, std::string target)
      : temporary_(std::move(temporary)), target_(std::move(target)) {}
  std::string temporary_;  // empty once committed or moved from
  std::string target_;
};

}  // namespace kelvora
