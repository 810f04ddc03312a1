#include "report/result_set.hpp"

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "data/curve_reader.hpp"
#include "data/units.hpp"
#include "report/graphics_data.hpp"
#include "report/results.hpp"
#include "util/checksum.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/files.hpp"
#include "util/interruption.hpp"
#include "util/text.hpp"

namespace kelvora {

const char* const program_version = "KELVORA v2.0";

Input_record describe_input(const std::string& path, int points) {
  Input_record input;
  input.file = path;
  input.points = points;
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  input.sha256 = sha256_hex(bytes);
  // The title is the first line, or the second after a UNITS line (the
  // reader refuses a first line of that keyword that names no unit).
  std::istringstream lines(bytes);
  std::string title;
  for (int i = 0; i < 2 && std::getline(lines, title); ++i) {
    if (!title.empty() && title.back() == '\r') title.pop_back();
    if (!units_line_name(title)) break;
  }
  input.title = std::string(trim(title));
  return input;
}

std::string analysis_record_text(const Analysis_record& record) {
  std::string text;
  const auto line = [&text](const std::string& label, const std::string& value) {
    text += " " + fmt_left(label, 14) + value + "\n";
  };
  text += " " + rule('=', 45) + "\n";
  text += "  ANALYSIS RECORD\n";
  text += " " + rule('=', 45) + "\n";
  line("Program:", program_version);
  line("Date:", record.date);
  line("Command line:", record.command_line);
  for (std::size_t i = 0; i < record.inputs.size(); ++i) {
    const Input_record& input = record.inputs[i];
    line("Curve " + std::to_string(i + 1) + ":",
         input.file + ", " + std::to_string(input.points) + " points");
    line("", "title: " + input.title);
    line("", "SHA-256: " + input.sha256);
    if (!input.unit.empty() && input.unit != "M") line("", "read in " + input.unit);
  }
  if (record.companions.empty()) {
    line("Written with:", "(no other file)");
  } else {
    for (std::size_t i = 0; i < record.companions.size(); ++i)
      line(i == 0 ? "Written with:" : "", record.companions[i]);
  }
  if (!record.interruption.empty()) line("Interrupted:", record.interruption);
  return text;
}

std::string companion_trailer(const std::string& out_name, const std::string& date) {
  return " Written with " + out_name + " by the analysis of " + date + "\n";
}

std::string interruption_text(bool fit_interrupted, const Bootstrap_results& bootstrap) {
  if (!interruption_requested()) return {};
  std::string text = "by " + signal_name(interruption_signal());
  if (fit_interrupted) text += "; the fit stopped at the best point it had reached";
  if (bootstrap.n_not_run > 0) {
    const int run = static_cast<int>(bootstrap.samples.size()) - bootstrap.n_not_run;
    text += "; the bootstrap ran " + std::to_string(run) + " of " +
            std::to_string(bootstrap.samples.size()) + " replicates";
  }
  return text;
}

std::string analysis_date() {
  std::time_t now = std::time(nullptr);
  if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    const long long seconds = std::strtoll(fixed, &end, 10);
    if (end != fixed && *end == '\0' && seconds >= 0) now = static_cast<std::time_t>(seconds);
  }
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

void Result_set::start(const Curve_table& curves, const Fit_parameters& params) {
  inputs.clear();
  scatchard_wanted = false;
  for (int i = 0; i < params.n_curves; ++i) {
    const Curve_data& curve = curves[i];
    if (!is_competition_assay(curve, params)) scatchard_wanted = true;
    inputs.push_back(describe_input(curve.path, curve.n_points));
    inputs.back().unit = unit_name(curve.unit);
  }
  const std::string header_rule = " " + rule('=', 45);
  out_text = header_rule + "\n     KELVORA Analysis Results\n" + header_rule + "\n \n";
  plot_text.clear();
  scatchard_text.clear();
  samples_text.clear();
}

void Result_set::add_summary(const Fit_parameters& params, const Fit_outcome& opt,
                             const std::vector<Ratio_only>& ratio_only,
                             const std::vector<std::string>& preference_warning,
                             const std::vector<std::string>& comparison) {
  std::ostringstream out;
  write_output_summary(out, params, opt, ratio_only);
  for (const std::vector<std::string>* lines : {&preference_warning, &comparison}) {
    for (const std::string& line : *lines) out << line << '\n';
    if (!lines->empty()) out << '\n';
  }
  out_text += out.str();
}

std::vector<std::pair<int, Curve_plot>> Result_set::add_graphics(Console& console,
                                                                 const Curve_table& curves,
                                                                 const Fit_parameters& params,
                                                                 const Fit_outcome& opt,
                                                                 Fit_results& results) {
  std::vector<std::pair<int, Curve_plot>> plots;
  std::ostringstream plot_data;
  plot_graphics_data(plot_data, curves, params, opt, results,
                     [&plots](int c, const Curve_plot& curve) { plots.emplace_back(c, curve); });
  plot_text += plot_data.str();
  if (scatchard_wanted) {
    std::ostringstream scatchard;
    save_graphics_data_cl(console, scatchard, curves, params, opt, results);
    scatchard_text += scatchard.str();
  }
  return plots;
}

void Result_set::commit(const std::string& interruption,
                        const std::optional<std::string>& competition) {
  namespace fs = std::filesystem;
  struct Planned {
    std::string name;
    std::string what;  // the closing line's words
    std::string text;
  };
  const std::string out_name = stem + ".out";
  const std::string trailer = companion_trailer(out_name, date);
  std::vector<Planned> companions;
  companions.push_back({stem + "_Plot.out", "Plotting data saved to: ", plot_text + trailer});
  if (scatchard_wanted)
    companions.push_back({scatchard_name(), "Graphing data saved to: ", scatchard_text + trailer});
  if (competition) {
    companions.push_back(
        {stem + "_Competition.out", "Competition data saved to: ", *competition + trailer});
  }
  if (!samples_text.empty()) {
    // The fixed name in the folder of the results, and a copy of the
    // stem's own that the next analysis of another stem leaves alone.
    const fs::path folder = fs::path(stem).parent_path();
    const std::string samples = samples_text + "#" + trailer;
    companions.push_back(
        {(folder / "bootstrap_multicurve.dat").string(), "Bootstrap samples saved to: ", samples});
    companions.push_back({stem + "_bootstrap.dat", "Bootstrap samples saved to: ", samples});
  }
  Analysis_record record{date, command_line, inputs, {}, interruption};
  if (machine) {
    companions.push_back({stem + "_results.csv", "Results table saved to: ", machine->csv});
    std::vector<std::string> files{out_name};
    for (const Planned& file : companions) files.push_back(file.name);
    files.push_back(stem + ".json");
    companions.push_back(
        {stem + ".json", "Results for scripts saved to: ", machine->json(record, files)});
  }

  // Every file is written to its temporary first; only when STEM.out is
  // whole too are they put in place, companions first. So the files in place
  // always belong together: a companion that could not be written is left
  // out of the record, and when STEM.out cannot be written nothing changes.
  saved.clear();
  not_saved.clear();
  std::vector<std::pair<Pending_replacement, const Planned*>> written;
  for (const Planned& file : companions) {
    if (std::optional<Pending_replacement> pending =
            Pending_replacement::write(file.name, file.text)) {
      written.emplace_back(std::move(*pending), &file);
      record.companions.push_back(file.name);
    } else {
      not_saved.push_back(file.name);
    }
  }
  std::optional<Pending_replacement> out =
      Pending_replacement::write(out_name, out_text + analysis_record_text(record));
  if (!out) {
    not_saved.clear();
    not_saved.push_back(out_name);
    for (const Planned& file : companions) not_saved.push_back(file.name);
    return;  // the pending companions remove their temporaries
  }
  for (auto& [pending, file] : written) {
    if (pending.commit()) {
      saved.emplace_back(file->name, file->what);
    } else {
      not_saved.push_back(file->name);
    }
  }
  if (out->commit()) {
    saved.insert(saved.begin(), {out_name, "Results saved to: "});
  } else {
    not_saved.insert(not_saved.begin(), out_name);
  }
}

void Result_set::print_saved(Console& console) const {
  for (const auto& [name, what] : saved) console.free_form(what + name);
  for (const std::string& name : not_saved) console.exact("ERROR: Cannot write file " + name);
  for (const char* suffix : {"_Plot.out", "_Scatchard.out", "_Competition.out", "_bootstrap.dat",
                             "_results.csv", ".json"}) {
    const std::string name = stem + suffix;
    const auto written = [&name](const auto& entry) { return entry.first == name; };
    std::error_code ec;
    if (std::none_of(saved.begin(), saved.end(), written) && std::filesystem::exists(name, ec))
      console.free_form(name + " is from an earlier analysis");
  }
}

}  // namespace kelvora
