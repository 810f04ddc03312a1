#include "util/interruption.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace kelvora {

namespace {

std::atomic<int> requested{0};
std::atomic<bool> waiting{false};

// The files that an immediate end removes, readable from the handler: fixed
// buffers, each with a flag that says whether it holds a path.
struct Path_slot {
  char path[4096];
  std::atomic<bool> set{false};
};
Path_slot temporary;  // the temporary being written
Path_slot lock_file;  // the lock of the stem being analysed

void store(Path_slot& slot, const std::string& path) noexcept {
  slot.set.store(false);
  if (path.empty() || path.size() >= sizeof slot.path) return;
  std::memcpy(slot.path, path.c_str(), path.size() + 1);
  slot.set.store(true);
}

void write_error(const char* text) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

// Only async-signal-safe calls here: atomics, write, unlink, _exit.
extern "C" void on_signal(int signal) {
  int none = 0;
  const bool first = requested.compare_exchange_strong(none, signal);
  if (first && !waiting.load()) {
    write_error("\n*** Interrupted: stopping at the next safe point (interrupt again to end "
                "at once) ***\n");
    return;
  }
  write_error("\n");
  end_at_once(interruption_exit_status(first ? signal : requested.load()));
}

}  // namespace

void install_interruption_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  // Reads and writes in progress resume after the handler: the flag, not an
  // interrupted system call, tells the program to stop.
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM}) {
    // A signal the program was started to ignore (a background job of a
    // script) stays ignored.
    struct sigaction inherited {};
    if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
}

void end_at_once(int status) noexcept {
  for (Path_slot* slot : {&temporary, &lock_file})
    if (slot->set.load()) ::unlink(slot->path);
  ::_exit(status);
}

bool interruption_requested() noexcept {
  return requested.load(std::memory_order_relaxed) != 0;
}

int interruption_signal() noexcept {
  return requested.load();
}

void request_interruption(int signal) noexcept {
  int none = 0;
  requested.compare_exchange_strong(none, signal);
}

void clear_interruption() noexcept {
  requested.store(0);
}

std::string signal_name(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGPIPE:
      return "SIGPIPE";
    default:
      return "signal " + std::to_string(signal);
  }
}

Waiting_for_answer::Waiting_for_answer() noexcept {
  waiting.store(true);
}

Waiting_for_answer::~Waiting_for_answer() {
  waiting.store(false);
}

void set_temporary_in_progress(const std::string& path) noexcept {
  store(temporary, path);
}

void set_lock_file_in_use(const std::string& path) noexcept {
  store(lock_file, path);
}

}  // namespace kelvora
