#pragma once
// Orderly interruption. SIGINT and SIGTERM do not kill an analysis in the
// middle of its work: the first one sets a flag that the fit and the
// bootstrap check at safe points (between two stages of the minimiser
// sequence, before each bootstrap replicate). The analysis then writes the
// complete results it has and ends with status 128 + the signal's number
// (130, 143). A second signal ends the program at once, and so does a signal
// that arrives while a dialogue waits for an answer: no result file is being
// written at those moments (files are only ever replaced whole), so nothing
// is lost but the computation in progress.
//
// A console whose output is gone (a closed pipe: SIGPIPE is ignored, the
// write fails) stops the session in the same way, with status 141.

#include <exception>
#include <string>

namespace kelvora {

// Installs the handlers of SIGINT and SIGTERM and ignores SIGPIPE.
void install_interruption_handlers();

// Whether an interruption was requested, and by which signal (0: none).
bool interruption_requested() noexcept;
int interruption_signal() noexcept;
// Requests an interruption as if `signal` had arrived (a failed console write).
void request_interruption(int signal) noexcept;
// Forgets a requested interruption (a test that requested one).
void clear_interruption() noexcept;

// "SIGINT", "SIGTERM", "SIGPIPE" or "signal N".
std::string signal_name(int signal);

// The exit status of a program ended by `signal`: 128 + its number.
constexpr int interruption_exit_status(int signal) {
  return 128 + signal;
}

// Raised where an interruption ends the session: at a prompt (the dialogue
// cannot go on), or after the results of an interrupted fit were written.
class Interrupted : public std::exception {
 public:
  explicit Interrupted(int signal) : signal_(signal) {}
  int signal() const { return signal_; }
  const char* what() const noexcept override { return "the analysis was interrupted"; }

 private:
  int signal_;
};

// While one exists, the dialogue waits for an answer: a signal then ends the
// program at once.
class Waiting_for_answer {
 public:
  Waiting_for_answer() noexcept;
  ~Waiting_for_answer();
  Waiting_for_answer(const Waiting_for_answer&) = delete;
  Waiting_for_answer& operator=(const Waiting_for_answer&) = delete;
};

// The temporary file being written (see replace_file): a signal that ends the
// program at once removes it, so that no half-written temporary is left.
// The path is copied; an empty path clears it.
void set_temporary_in_progress(const std::string& path) noexcept;
// Likewise the lock file of the stem being analysed (removed when released).
void set_lock_file_in_use(const std::string& path) noexcept;

// Ends the process now with `status`, removing the temporary in progress and
// the lock file (async-signal-safe).
[[noreturn]] void end_at_once(int status) noexcept;

}  // namespace kelvora
