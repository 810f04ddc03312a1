#include <unistd.h>
#include <chrono>
#include <iostream>

#include "app/program.hpp"
#include "util/console.hpp"
#include "util/orderly_stop.hpp"

int main() {
  // Answers read from a file are echoed, so that the transcript shows them.
  const bool echo_input = isatty(STDIN_FILENO) == 0;
  kelvora::Console console(std::cin, std::cout, echo_input);
  return kelvora::run_program(console, std::chrono::seconds(kelvora::stop_pause_seconds));
}
