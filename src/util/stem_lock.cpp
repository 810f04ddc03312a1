#include "util/stem_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/interruption.hpp"

namespace kelvora {

Stem_lock::Outcome Stem_lock::acquire(const std::string& stem) {
  release();
  const std::string path = stem + ".lock";
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0) return Outcome::failed;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
      ::close(descriptor);
      return Outcome::busy;
    }
    // The holder before us may have removed the file between our open and
    // our lock: the lock then guards a file nobody else will open. Only a
    // lock on the file that the name still leads to counts.
    struct stat held {};
    struct stat named {};
    if (::fstat(descriptor, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      descriptor_ = descriptor;
      path_ = path;
      set_lock_file_in_use(path_);
      return Outcome::locked;
    }
    ::close(descriptor);
  }
  return Outcome::busy;
}

void Stem_lock::release() {
  if (descriptor_ < 0) return;
  // Removed while still locked, so that a session waiting on it re-checks.
  set_lock_file_in_use("");
  ::unlink(path_.c_str());
  ::close(descriptor_);
  descriptor_ = -1;
}

}  // namespace kelvora
