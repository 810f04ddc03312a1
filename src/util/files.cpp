#include "util/files.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "util/interruption.hpp"

namespace kelvora {

namespace {

// The permissions of a new file of this user: 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool write_all(std::FILE* file, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

std::optional<std::string> replacement_target(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target = name;
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    // Written through: the link stays a link. A dangling link names no file
    // that could be replaced, and deleting it is not ours to do.
    target = fs::canonical(target, ec);
    if (ec) return std::nullopt;
  }
  const fs::file_status status = fs::status(target, ec);
  if (fs::exists(status)) {
    // Only a regular file that this process may write is replaced.
    if (!fs::is_regular_file(status) || ::access(target.c_str(), W_OK) != 0) return std::nullopt;
  }
  // The temporary and the rename need a folder this process may write to.
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::nullopt;
  return target.string();
}

bool replace_file(const std::string& name, std::string_view text, Text_writer write) {
  const std::optional<std::string> target = replacement_target(name);
  if (!target) return false;
  struct stat old_status {};
  const bool replacing = ::stat(target->c_str(), &old_status) == 0;

  // A unique temporary: a temporary left by a killed writer never blocks
  // this one (and is never overwritten by it).
  std::vector<char> temporary(target->begin(), target->end());
  for (const char c : std::string_view(".XXXXXX")) temporary.push_back(c);
  temporary.push_back('\0');
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) return false;
  set_temporary_in_progress(temporary.data());
  ::fchmod(descriptor, replacing ? (old_status.st_mode & 07777) : new_file_mode());
  std::FILE* file = ::fdopen(descriptor, "wb");
  bool ok = file != nullptr;
  if (ok) {
    ok = write(file, text);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
  } else {
    ::close(descriptor);
  }
  if (ok) ok = ::rename(temporary.data(), target->c_str()) == 0;
  if (!ok) ::unlink(temporary.data());  // created by this call, so removing it loses nothing
  set_temporary_in_progress("");
  return ok;
}

}  // namespace kelvora
