#include <unistd.h>
#include <chrono>
#include <iostream>
#include <string_view>

#include "app/fit_command.hpp"
#include "app/program.hpp"
#include "report/help_screens.hpp"
#include "util/console.hpp"
#include "util/interruption.hpp"
#include "util/orderly_stop.hpp"
#include "util/random.hpp"

int main(int argc, char** argv) {
  kelvora::install_interruption_handlers();
  if (argc > 1 && std::string_view(argv[1]) == "fit")
    return kelvora::run_fit_command(argc - 1, argv + 1);
  const kelvora::Command_line line = kelvora::parse_command_line(argc, argv);
  if (!line.error.empty()) {
    std::cerr << line.error << "\n\n" << kelvora::command_line_help;
    return 2;
  }
  if (line.help) {
    std::cout << kelvora::command_line_help;
    return 0;
  }
  if (line.seed) kelvora::process_random().set_session_seed(*line.seed);
  std::string command_line = "kelvora";
  for (int i = 1; i < argc; ++i) command_line += std::string(" ") + argv[i];
  // Answers read from a file are echoed, so that the transcript shows them.
  const bool echo_input = isatty(STDIN_FILENO) == 0;
  kelvora::Console console(std::cin, std::cout, echo_input);
  // Nobody could close a plot window in a session answered from a file.
  kelvora::Plot_mode plots = line.plots;
  if (plots == kelvora::Plot_mode::automatic && echo_input) plots = kelvora::Plot_mode::png;
  return kelvora::run_program(console, std::chrono::seconds(kelvora::stop_pause_seconds), plots,
                              command_line);
}
