#pragma once
// The program entry: banner, main menu, and the global analysis state.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "data/records.hpp"

namespace kelvora {

class Console;

// The records every analysis works on; they live for the whole process.
struct Analysis_state {
  Curve_table curves;
  Fit_parameters fit_params;
  Optimization_data opt_data;
  Fit_results results;
};

void print_banner(Console& console);

// The command line: `kelvora [--seed N]` or `kelvora --help`.
struct Command_line {
  bool help = false;
  std::optional<std::uint64_t> seed;  // --seed N: a repeatable session
  std::string error;                  // not empty when the line was refused
};
Command_line parse_command_line(int argc, const char* const* argv);
extern const char* const command_line_help;

// Runs the banner and the main menu until the user exits or the input ends
// (status 0), or until an orderly stop (non-zero status, after `stop_pause`).
int run_program(Console& console, std::chrono::milliseconds stop_pause);

}  // namespace kelvora
