#include "app/fit_command.hpp"

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/fitting_analysis.hpp"
#include "app/program.hpp"
#include "util/console.hpp"
#include "util/interruption.hpp"
#include "util/orderly_stop.hpp"
#include "util/random.hpp"
#include "util/text.hpp"

namespace kelvora {

namespace {

constexpr int usage_status = 2;
constexpr int not_converged_status = 1;

const char* const examples =
    "Examples:\n"
    "  kelvora fit EX1_SAT\n"
    "      one site, automatic estimates, 100 bootstrap replicates; writes\n"
    "      EX1_SAT.out, EX1_SAT_results.csv, EX1_SAT.json and the plots\n"
    "  kelvora fit --sites 2 --compare --plots=none EX3_TWOSITE\n"
    "      fits one site, then two, and compares them (F test, AICc)\n"
    "  kelvora fit --stem joint --hold C1,B1,N2=0 EX1_SAT EX2_COMP\n"
    "      a joint fit of two curves with N2 held at 0\n"
    "  kelvora fit --units nM --quiet --bootstrap 0 plate/A01.CRV\n"
    "      concentrations in nM, no bootstrap, only the final table shown\n"
    "\n"
    "Exit status: 0 done, 1 a fit did not converge, 2 bad usage or input.\n";

// NAME or NAME=VALUE, the name in upper case.
Named_value named_value(const std::string& item, bool value_required) {
  const std::size_t equals = item.find('=');
  Named_value named{uppercase(std::string(trim(item.substr(0, equals)))), std::nullopt};
  if (named.name.empty()) throw Fit_refused("'" + item + "' names no parameter");
  if (equals == std::string::npos) {
    // "K11=1,5E9": the comma of a decimal separates items.
    if (parse_real(named.name))
      throw Fit_refused("'" + item +
                        "' is a number, not a parameter: commas separate the items of a list, "
                        "so decimals take a point (e.g. K11=1.5E9)");
    if (value_required) throw Fit_refused("'" + item + "' needs a value: NAME=VALUE");
    return named;
  }
  const std::string text(trim(item.substr(equals + 1)));
  const auto value = parse_real(text);
  if (text.empty() || !value || split_items(text).size() != 1)
    throw Fit_refused("'" + item + "': '" + text + "' is not a number (e.g. 2.5E-10)");
  named.value = value;
  return named;
}

std::vector<Named_value> named_values(const std::vector<std::string>& items, bool value_required) {
  std::vector<Named_value> values;
  for (const std::string& item : items) {
    if (trim(item).empty()) continue;
    values.push_back(named_value(item, value_required));
  }
  return values;
}

struct Command {
  Fit_settings settings;
  std::optional<std::uint64_t> seed;
  Plot_mode plots = Plot_mode::png;
  bool quiet = false;
};

// The command's options; false when the command is done already (its help
// was asked for). Raises CLI::ParseError and Fit_refused.
bool parse(int argc, const char* const* argv, Command& command) {
  CLI::App app(
      "Fits binding curves without a dialogue and writes the results: STEM.out and\n"
      "its companions as the menu's analysis does, STEM_results.csv and STEM.json.",
      "kelvora fit");
  app.footer(examples);
  app.get_formatter()->column_width(30);
  Fit_settings& s = command.settings;
  app.add_option("CURVE", s.curves,
                 "curve files (.CRV), each a path with or without its extension;\n"
                 "fitted together. Example: EX1_SAT data/EX2_COMP.CRV")
      ->required();
  std::string sites = "1";
  app.add_option("--sites", sites,
                 "binding sites of the model, 1 or 2 (default 1). Example: --sites 2")
      ->check(CLI::IsMember({"1", "2"}))
      ->type_name("N");
  std::vector<std::string> hold;
  app.add_option("--hold", hold,
                 "parameters held constant, at VALUE where given, else at their\n"
                 "typical value; NONE for none (default: every C and B).\n"
                 "Example: --hold C1,B1,N1=0")
      ->delimiter(',')
      ->allow_extra_args(false)  // one list per --hold: the curves follow it
      ->type_name("NAME[=VALUE]");
  std::vector<std::string> start;
  app.add_option("--start", start,
                 "starting values of fitted parameters; automatic estimates for\n"
                 "the rest. Example: --start K11=2E9,R1=1.5E-10")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->type_name("NAME=VALUE");
  bool no_estimates = false;
  app.add_flag("--no-estimates", no_estimates,
               "no automatic estimates: start from the typical values and --start.\n"
               "Example: --no-estimates --start K11=1E9");
  app.add_option("--stem", s.stem,
                 "the result files' name stem, a path (default: the first curve's\n"
                 "path without .CRV). Example: --stem results/plate1_A01")
      ->type_name("PATH");
  app.add_option("--bootstrap", s.bootstrap,
                 "bootstrap replicates of the parameters (default 100); 0 runs none\n"
                 "and gives no standard errors. Example: --bootstrap 500")
      ->check(CLI::Range(0, 100000))
      ->type_name("B");
  app.add_flag("--compare", s.compare,
               "also fit the other number of sites, first, and compare the two\n"
               "fits (F test and AICc); the results describe the --sites fit.\n"
               "Example: --compare --sites 2");
  // The seed is read as text: a whole number from 0 to 2^64 - 1, nothing
  // wrapped or clamped into that range.
  std::string seed;
  app.add_option("--seed", seed,
                 "make the run repeatable: every random number follows from N, as in\n"
                 "a menu session with the same seed. Example: --seed 1")
      ->type_name("N");
  std::string plots = "png";
  app.add_option("--plots", plots,
                 "where each curve's plot goes: png or svg files STEM_curveN, a\n"
                 "window to close, or none (default png). Example: --plots=none")
      ->check(CLI::IsMember({"png", "svg", "window", "none"}))
      ->type_name("MODE");
  app.add_flag("--quiet", command.quiet,
               "print only warnings, errors (on standard error) and the final\n"
               "table of each fit. Example: --quiet");
  std::string units;
  app.add_option("--units", units,
                 "the unit of the concentrations in curve files that do not name\n"
                 "theirs: M, mM, uM, nM or pM (default M). Example: --units nM")
      ->type_name("UNIT");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return false;
  }
  s.estimates = !no_estimates;
  s.start = named_values(start, true);
  if (!hold.empty()) {
    const bool none = hold.size() == 1 && uppercase(std::string(trim(hold.front()))) == "NONE";
    s.hold = none ? std::vector<Named_value>{} : named_values(hold, false);
  }
  s.sites = sites == "2" ? 2 : 1;
  if (!seed.empty()) {
    command.seed = parse_seed(seed);
    if (!command.seed) throw Fit_refused(seed_refusal(seed));
  }
  if (!units.empty()) {
    command.settings.units = parse_concentration_unit(units);
    if (!command.settings.units) throw Fit_refused("--units: " + unknown_unit(units));
  }
  command.plots = *plot_mode_named(plots);  // one of them: CLI11 checked the name
  return true;
}

}  // namespace

int run_fit_command(int argc, const char* const* argv) {
  Command command;
  try {
    if (!parse(argc, argv, command)) return 0;
  } catch (const CLI::ParseError& error) {
    std::cerr << "kelvora fit: " << error.what() << " (see kelvora fit --help)\n";
    return usage_status;
  } catch (const Fit_refused& refused) {
    std::cerr << "kelvora fit: " << refused.what() << '\n';
    return usage_status;
  }
  if (command.seed) process_random().set_session_seed(*command.seed);

  std::string command_line = "kelvora";
  for (int i = 0; i < argc; ++i) command_line += std::string(" ") + argv[i];
  std::istringstream no_answers;
  Console console(no_answers, std::cout);
  if (command.quiet) console.set_quiet(&std::cerr);
  auto state = std::make_unique<Analysis_state>();
  state->plots = command.plots;
  try {
    const int status =
        run_scripted_analysis(console, state->curves, state->fit_params, state->outcome,
                              state->results, state->plots, command_line, command.settings);
    std::cout.flush();
    if (status == not_converged_status)
      std::cerr << "kelvora fit: the fit did not converge (its sum of squares is not a "
                   "number); try other starting values (--start) or hold more parameters "
                   "constant\n";
    return status;
  } catch (const Fit_refused& refused) {
    std::cout.flush();
    std::cerr << "kelvora fit: " << refused.what() << '\n';
    return usage_status;
  } catch (const Orderly_stop& stop) {
    std::cout.flush();
    // The error line of the refusal, or the stop's own message.
    std::string why = console.last_error().empty() ? stop.what() : console.last_error();
    if (why.starts_with("ERROR: ")) why.erase(0, 7);
    why = std::string(trim(why));
    while (!why.empty() && why.front() == '*') why.erase(0, 1);
    while (!why.empty() && why.back() == '*') why.pop_back();
    std::cerr << "kelvora fit: " << why << '\n';
    return usage_status;
  } catch (const Interrupted& interrupted) {
    std::cout.flush();
    return interruption_exit_status(interrupted.signal());
  }
}

}  // namespace kelvora
