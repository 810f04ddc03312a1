#include "util/files.hpp"

#include <filesystem>
#include <system_error>

namespace kelvora {

bool write_all(std::FILE* file, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

bool replace_file(const std::string& name, std::string_view text, Text_writer write) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status old_status = fs::status(name, ec);
  const bool replacing = fs::exists(old_status);
  if (replacing) {
    // Only a regular file that this process may write is replaced: a folder,
    // a device or a write-protected file of that name stays as it is. Opening
    // with "r+" neither creates nor truncates, so the probe changes nothing.
    if (!fs::is_regular_file(old_status)) return false;
    std::FILE* probe = std::fopen(name.c_str(), "r+b");
    if (probe == nullptr) return false;
    std::fclose(probe);
  }
  // The new text goes to NAME.tmp first, and only a complete copy is renamed
  // over NAME, so a failed write never touches the old file. "x" makes the
  // open fail when NAME.tmp already exists: such a file is not ours to
  // overwrite or remove.
  const std::string temporary = name + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wbx");
  if (file == nullptr) return false;
  bool ok = write(file, text);
  ok = std::fflush(file) == 0 && ok;
  ok = std::fclose(file) == 0 && ok;
  if (ok && replacing) fs::permissions(temporary, old_status.permissions(), ec);  // best effort
  if (ok) {
    fs::rename(temporary, name, ec);
    ok = !ec;
  }
  if (!ok) fs::remove(temporary, ec);  // created by this call, so removing it loses nothing
  return ok;
}

}  // namespace kelvora
