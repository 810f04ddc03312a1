#pragma once
// The program entry: banner, main menu, and the global analysis state.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/records.hpp"
#include "plot/curve_plot.hpp"

namespace kelvora {

class Console;

// The records every analysis works on; they live for the whole process.
struct Analysis_state {
  Curve_table curves;
  Fit_parameters fit_params;
  Fit_outcome outcome;
  Fit_results results;
  Plot_mode plots = Plot_mode::none;     // where the plots of the session go
  std::string command_line = "kelvora";  // as the result files record it
};

// The command line: `kelvora [--seed N] [--plots=MODE]` or `kelvora --help`.
struct Command_line {
  bool help = false;
  std::optional<std::uint64_t> seed;  // --seed N: a repeatable session
  Plot_mode plots = Plot_mode::automatic;
  std::string error;  // not empty when the line was refused
};
Command_line parse_command_line(int argc, const char* const* argv);

// The plot mode named window, png, svg or none; nothing for another name.
std::optional<Plot_mode> plot_mode_named(std::string_view name);
// A session seed: a whole number from 0 to 2^64 - 1 in decimal digits,
// nothing wrapped or clamped into that range; nothing for any other text.
std::optional<std::uint64_t> parse_seed(std::string_view text);
// Why `text` is no seed, for the error line.
std::string seed_refusal(std::string_view text);

// Runs the banner and the main menu until the user exits or the input ends
// (status 0), until an orderly stop (non-zero status, after `stop_pause`), or
// until an interruption (128 + the signal's number, at once). The plots go
// where `plots` says; the result files record `command_line`.
int run_program(Console& console, std::chrono::milliseconds stop_pause,
                Plot_mode plots = Plot_mode::none, const std::string& command_line = "kelvora");

}  // namespace kelvora
