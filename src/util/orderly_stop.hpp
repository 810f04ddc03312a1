#pragma once
// The orderly stop: a few unrecoverable situations end the whole program
// after a message. The message is printed where the stop is raised; the
// exception unwinds every open file (they flush and close on the way) and is
// caught by the program entry, which pauses and exits with a non-zero status.

#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvora {

class Console;

class Orderly_stop : public std::runtime_error {
 public:
  explicit Orderly_stop(const std::string& reason) : std::runtime_error(reason) {}
};

// The pause between the stop message and the end of the process.
constexpr int stop_pause_seconds = 4;
// The exit status of a program ended by an orderly stop.
constexpr int stop_exit_status = 2;

// Prints `message` as an exact line and raises the stop.
[[noreturn]] void orderly_stop(Console& console, std::string_view message);

}  // namespace kelvora
