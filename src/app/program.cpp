#include "app/program.hpp"

#include <charconv>
#include <memory>
#include <string_view>
#include <thread>

#include "app/fitting_analysis.hpp"
#include "report/example_files.hpp"
#include "report/help_screens.hpp"
#include "util/console.hpp"
#include "util/interruption.hpp"
#include "util/orderly_stop.hpp"

namespace kelvora {

std::optional<Plot_mode> plot_mode_named(std::string_view name) {
  const std::pair<std::string_view, Plot_mode> modes[] = {{"window", Plot_mode::window},
                                                          {"png", Plot_mode::png},
                                                          {"svg", Plot_mode::svg},
                                                          {"none", Plot_mode::none}};
  for (const auto& [mode_name, mode] : modes)
    if (name == mode_name) return mode;
  return std::nullopt;
}

std::string seed_refusal(std::string_view text) {
  return "--seed needs a whole number from 0 to 18446744073709551615, not '" + std::string(text) +
         "'";
}

std::optional<std::uint64_t> parse_seed(std::string_view text) {
  std::uint64_t seed = 0;
  const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), seed);
  if (fault != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return seed;
}

Command_line parse_command_line(int argc, const char* const* argv) {
  Command_line line;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      line.help = true;
    } else if (argument.starts_with("--plots")) {
      std::string_view value;
      if (argument.starts_with("--plots=")) {
        value = argument.substr(8);
      } else if (argument == "--plots" && i + 1 < argc) {
        value = argv[++i];
      }
      const std::optional<Plot_mode> mode = plot_mode_named(value);
      if (mode) {
        line.plots = *mode;
      } else {
        line.error =
            "kelvora: --plots needs window, png, svg or none, not '" + std::string(value) + "'";
        return line;
      }
    } else if (argument == "--seed" && i + 1 < argc) {
      const std::string_view number = argv[++i];
      line.seed = parse_seed(number);
      if (!line.seed) {
        line.error = "kelvora: " + seed_refusal(number);
        return line;
      }
    } else {
      line.error = argument == "--seed" ? "kelvora: --seed needs a number"
                                        : "kelvora: unknown option '" + std::string(argument) + "'";
      return line;
    }
  }
  return line;
}

namespace {

void print_main_menu(Console& console) {
  console.free_form("MAIN MENU:");
  console.free_form("  1. Enter data file and run curve fitting analysis");
  console.free_form("  2. Display help for main menu");
  console.free_form("  3. Display help for data.crv file format");
  console.free_form("  4. Create example data.crv files");
  console.free_form("  5. Exit program");
  console.empty_line();
  console.prompt("CHOOSE OPTION (1-5): ");
}

void reset_parameter_values(Fit_parameters& params) {
  params.accepted.fill(1.0);
  params.value.fill(1.0);
}

// The menu loop; returns when the user exits or the input ends.
void main_menu(Console& console, Analysis_state& state) {
  for (;;) {
    print_main_menu(console);
    int choice = 0;
    for (;;) {
      reset_parameter_values(state.fit_params);
      const auto answer = console.read_integer();
      if (answer.status == Answer_status::end_of_input) {
        console.end_line();
        return;
      }
      if (answer.status == Answer_status::not_a_number) {
        console.exact("ENTER A NUMBER [1, 2, 3, 4 or 5]");
      } else if (answer.value < 1 || answer.value > 5) {
        console.free_form("Invalid choice. Please enter 1, 2, 3, 4 or 5.");
      } else {
        choice = answer.value;
        break;
      }
    }
    switch (choice) {
      case 1:
        run_fitting_analysis(console, state.curves, state.fit_params, state.outcome, state.results,
                             state.plots, state.command_line);
        break;
      case 2:
        print_main_menu_help(console);
        break;
      case 3:
        print_crv_file_format_help(console);
        break;
      case 4:
        create_tutorial_files(console);
        break;
      default:
        console.free_form("Exiting program!");
        return;
    }
  }
}

}  // namespace

int run_program(Console& console, std::chrono::milliseconds stop_pause, Plot_mode plots,
                const std::string& command_line) {
  auto state = std::make_unique<Analysis_state>();
  state->plots = plots;
  state->command_line = command_line;
  try {
    print_banner(console);
    main_menu(console, *state);
    return 0;
  } catch (const Interrupted& interrupted) {
    // The analysis has written what it had (or, interrupted at a prompt,
    // nothing was being written): no pause, the signal's status.
    console.out().flush();
    return interruption_exit_status(interrupted.signal());
  } catch (const Orderly_stop&) {
    console.out().flush();
    std::this_thread::sleep_for(stop_pause);
    return stop_exit_status;
  }
}

}  // namespace kelvora
