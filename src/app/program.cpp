#include "app/program.hpp"

#include <charconv>
#include <memory>
#include <string_view>
#include <thread>

#include "app/fitting_analysis.hpp"
#include "report/example_files.hpp"
#include "report/help_screens.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/interruption.hpp"
#include "util/orderly_stop.hpp"

namespace kelvora {

namespace {

// The banner body; every line is printed free form.
constexpr std::string_view banner_text[] = {
    " KELVORA v2.0 - Ligand Receptor Binding Curve Fitting",
    " KELVORA performs the non-linear least square curve fit",
    " of experimental receptor binding data using estimates of",
    " KA, Rmax and Nonspecific. The Bound ligand vs Total ligand",
    " coordinate system is used in the analysis of one or two",
    " binding sites for saturation or competition assays.",
    "",
    " The fitting method of KELVORA derives from an earlier",
    " public-domain program for the analysis of ligand binding",
    " data, long used in receptor pharmacology. That program",
    " fitted the exact mass-action model of several ligands",
    " and receptor classes to bound versus total ligand data",
    " by weighted nonlinear least squares. Its binding model",
    " and its computational method are described in these",
    " papers:",
    "   1. Anal. Biochem. 107, 220-239 (1980)",
    "      (the method: weighted least-squares fitting of the",
    "      exact binding model to experimental data)",
    "   2. Anal. Biochem. 48, 317-338 (1972)",
    "      (the general binding model)",
    "",
    " KELVORA:",
    "  o Follows the methodology of the earlier public-domain",
    "    program",
    "  o Uses the general binding model of the 1972 paper as",
    "    implemented in the 1980 paper; written in C++20",
    "  o Runs on Linux as a console program (64-bit)",
    "  o Uses Nelder-Mead Simplex, Conjugate Gradient, and",
    "    Levenberg-Marquardt optimization routines",
    "  o Uses weighted nonlinear least squares with numerical derivatives",
    "  o Implements Saturation and Competition displacement binding",
    "  o Reorders data files, Saturation (1st), Competition (next)",
    "  o Fits data to models containing one or two binding sites",
    "  o All data must be in Molar [M] units",
    "  o Varying hot ligand [M] must not be less than 1.0E-14 M",
    "  o Applies automatic initial parameter estimates (K, R, N)",
    "  o Allows refitting data using last fitted parameter values",
    "  o Implements bootstrap parameter standard errors",
    "  o Performs Runs test of curve-fit residual patterns",
    "  o Creates plots of Log(Total Ligand) versus Bound/Total Ligand",
    "",
    " KELVORA v2.0 by the KELVORA developers, released December 2026",
    " Documentation: README.md of the KELVORA source distribution",
    "",
    "  \"This program is provided as is, without warranty of any kind.",
    "   Check every fitted result against your data before you use it;",
    "   the conclusions drawn from it remain the user's responsibility.\"",
};

}  // namespace

const char* const command_line_help =
    "Usage: kelvora [--seed N] [--plots=window|png|svg|none]\n"
    "\n"
    "Starts the interactive analysis of ligand binding curves (the main menu).\n"
    "\n"
    "  --seed N  make the session repeatable: every random number it draws (the\n"
    "            random searches of the fit, the polish of the quasi-Newton\n"
    "            minimiser, the bootstrap resamples) follows from N, 0 <= N <\n"
    "            2^64. Two sessions with the same N and the same answers write\n"
    "            identical result files, whatever the number of processors,\n"
    "            but for the date of the analysis record (SOURCE_DATE_EPOCH,\n"
    "            seconds since 1970, fixes that too).\n"
    "            Without it, the random searches draw fresh numbers from the\n"
    "            system's entropy source.\n"
    "  --plots=window|png|svg|none\n"
    "            where the plot of each fitted curve goes: a window that the\n"
    "            analysis waits for you to close (window), an 800 x 600 image\n"
    "            file STEM_curveN.png or .svg beside the results (png, svg), or\n"
    "            nowhere (none). The default is the window when the answers are\n"
    "            typed at a terminal and a display can be opened, PNG files\n"
    "            otherwise (answers from a file, no display, a remote login).\n"
    "  --help    show this text and exit.\n";

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
      const std::pair<std::string_view, Plot_mode> modes[] = {{"window", Plot_mode::window},
                                                              {"png", Plot_mode::png},
                                                              {"svg", Plot_mode::svg},
                                                              {"none", Plot_mode::none}};
      bool known = false;
      for (const auto& [name, mode] : modes) {
        if (value == name) {
          line.plots = mode;
          known = true;
        }
      }
      if (!known) {
        line.error =
            "kelvora: --plots needs window, png, svg or none, not '" + std::string(value) + "'";
        return line;
      }
    } else if (argument == "--seed" && i + 1 < argc) {
      const std::string_view number = argv[++i];
      std::uint64_t seed = 0;
      const auto [end, fault] = std::from_chars(number.data(), number.data() + number.size(), seed);
      if (fault != std::errc() || end != number.data() + number.size()) {
        line.error = "kelvora: --seed needs a whole number from 0 to 18446744073709551615, not '" +
                     std::string(number) + "'";
        return line;
      }
      line.seed = seed;
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
        run_fitting_analysis(console, state.curves, state.fit_params, state.opt_data, state.results,
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

void print_banner(Console& console) {
  const std::string banner_rule = rule('=', 56);
  console.empty_line();
  console.free_form(banner_rule);
  for (const auto line : banner_text) {
    if (line.empty()) {
      console.empty_line();
    } else {
      console.free_form(line);
    }
  }
  console.free_form(banner_rule);
}

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
