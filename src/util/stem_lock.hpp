#pragma once
// A lock on the stem of a set of result files, so that two sessions never
// write the same files at once.

#include <string>

namespace kelvora {

// The advisory lock (flock) on a stem, held through the lock file STEM.lock
// for as long as the analysis runs. The lock file is removed on release; a
// lock file left by a killed session holds no lock and is simply taken over.
class Stem_lock {
 public:
  enum class Outcome { locked, busy, failed };
  Stem_lock() = default;
  ~Stem_lock() { release(); }
  Stem_lock(const Stem_lock&) = delete;
  Stem_lock& operator=(const Stem_lock&) = delete;

  // busy: another session holds the stem; failed: the lock file cannot be
  // created (a missing or read-only folder).
  Outcome acquire(const std::string& stem);
  void release();

 private:
  int descriptor_ = -1;
  std::string path_;
};

}  // namespace kelvora
