#include "util/files.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <utility>
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
  std::optional<Pending_replacement> pending = Pending_replacement::write(name, text, write);
  return pending && pending->commit();
}

std::optional<Pending_replacement> Pending_replacement::write(const std::string& name,
                                                             std::string_view text,
                                                             Text_writer writer) {
  const std::optional<std::string> target = replacement_target(name);
  if (!target) return std::nullopt;
  struct stat old_status {};
  const bool replacing = ::stat(target->c_str(), &old_status) == 0;

  // A unique temporary: a temporary left by a killed writer never blocks
  // this one (and is never overwritten by it).
  std::vector<char> temporary(target->begin(), target->end());
  for (const char c : std::string_view(".XXXXXX")) temporary.push_back(c);
  temporary.push_back('\0');
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) return std::nullopt;
  set_temporary_in_progress(temporary.data());
  // Not synced to the disk: the rename protects the older file from every
  // end of this process (signals, a full disk); a crash of the whole system
  // is left to the file system's ordering of the rename after the data.
  ::fchmod(descriptor, replacing ? (old_status.st_mode & 07777) : new_file_mode());
  std::FILE* file = ::fdopen(descriptor, "wb");
  bool ok = file != nullptr;
  if (ok) {
    ok = writer(file, text);
    ok = std::fflush(file) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
  } else {
    ::close(descriptor);
  }
  set_temporary_in_progress("");
  Pending_replacement pending(temporary.data(), *target);
  if (!ok) return std::nullopt;  // the destructor removes the temporary
  return pending;
}

bool Pending_replacement::commit() {
  if (temporary_.empty()) return false;
  const bool ok = ::rename(temporary_.c_str(), target_.c_str()) == 0;
  if (!ok) ::unlink(temporary_.c_str());  // created by this process, so removing it loses nothing
  temporary_.clear();
  return ok;
}

Pending_replacement::Pending_replacement(Pending_replacement&& other) noexcept
    : temporary_(std::exchange(other.temporary_, {})), target_(std::move(other.target_)) {}

Pending_replacement::~Pending_replacement() {
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

}  // namespace kelvora
