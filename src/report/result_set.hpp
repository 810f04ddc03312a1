#pragma once
// The result files of one analysis and what makes them trustworthy:
//  - they are written whole (each through a temporary beside it, renamed over
//    the older file only once complete: see replace_file), after each fit;
//  - STEM.out ends with a record of the analysis that wrote it (program, date,
//    command line, every input file with its SHA-256), and every companion
//    file ends with a line naming that STEM.out and date, so that files of
//    different analyses of one stem cannot be mistaken for one set;
//  - a lock on the stem (util/stem_lock.hpp) keeps two sessions from writing
//    the same files.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/assay.hpp"
#include "data/records.hpp"
#include "plot/curve_plot_data.hpp"
#include "stats/bootstrap_engine.hpp"

namespace kelvora {

class Console;

// One input curve file as the analysis read it.
struct Input_record {
  std::string file;  // the path that was opened
  std::string title;
  int points = 0;
  std::string sha256;  // of the file's bytes
  std::string unit;    // the concentration unit it was read in
};

// The input file `path` as read now: its title line and checksum.
Input_record describe_input(const std::string& path, int points);

struct Analysis_record {
  std::string date;  // when the analysis began (see analysis_date)
  std::string command_line;
  std::vector<Input_record> inputs;
  std::vector<std::string> companions;  // the other files written with STEM.out
  std::string interruption;             // what an interruption cut short, if one did
};

// The record's lines, ending with a line end.
std::string analysis_record_text(const Analysis_record& record);

// The last line of a companion file of `out_name`.
std::string companion_trailer(const std::string& out_name, const std::string& date);

// The line of the record that says what an interruption cut short: by which
// signal, whether the fit stopped early, how many bootstrap replicates ran.
// Empty when no interruption was requested.
std::string interruption_text(bool fit_interrupted, const Bootstrap_results& bootstrap);

// The date and time now, "YYYY-MM-DD HH:MM:SS UTC"; SOURCE_DATE_EPOCH (seconds
// since 1970), when set, gives the time instead, so that a repeated session
// can write identical files.
std::string analysis_date();

// The program's name and version as the files and the banner show them.
extern const char* const program_version;

// The result files of an analysis of the stem, held in memory: every fit
// appends its reports to the texts, and commit() writes them all together.
struct Result_set {
  std::string stem;
  std::string date;  // when the analysis began: it names the analysis in its files
  std::string command_line;
  std::vector<Input_record> inputs;
  bool scatchard_wanted = false;  // some curve is not a competition curve
  // The texts so far: STEM.out without its record, STEM_Plot.out and
  // STEM_Scatchard.out without their last line, and the replicates of the
  // last multi-curve bootstrap.
  std::string out_text;
  std::string plot_text;
  std::string scatchard_text;
  std::string samples_text;
  // The files of the last fit for other programs (none before a fit): the
  // text of STEM_results.csv, and the writer of STEM.json's text, given the
  // analysis record and the names of the files written with it.
  struct Machine_files {
    std::string csv;
    std::function<std::string(const Analysis_record&, const std::vector<std::string>&)> json;
  };
  std::optional<Machine_files> machine;
  // The files written by the last commit (name, and the closing line's
  // words), and those that could not be written.
  std::vector<std::pair<std::string, std::string>> saved;
  std::vector<std::string> not_saved;

  std::string scatchard_name() const { return stem + "_Scatchard.out"; }

  // Begins the texts for the curves just read (in the order they were
  // entered): their input records, and the heading of STEM.out.
  void start(const Curve_table& curves, const Fit_parameters& params);

  // Appends the summary of a fit to STEM.out: the parameter table, the
  // lines of `preference_warning` and those of `comparison` (the comparison
  // with a fit of another number of sites), each group closed by an empty line.
  void add_summary(const Fit_parameters& params, const Fit_outcome& opt,
                   const std::vector<Ratio_only>& ratio_only,
                   const std::vector<std::string>& preference_warning,
                   const std::vector<std::string>& comparison);

  // Appends the plot data of a fit, and its Scatchard data when wanted;
  // returns the plot of each curve with the curve's number (from 0).
  std::vector<std::pair<int, Curve_plot>> add_graphics(Console& console, const Curve_table& curves,
                                                       const Fit_parameters& params,
                                                       const Fit_outcome& opt,
                                                       Fit_results& results);

  // Writes every result file of the analysis so far, each whole (see
  // replace_file): first the companion files, then STEM.out, whose record
  // says what `interruption` cut short and names the companions that were
  // written; `competition` is the text of STEM_Competition.out when there is
  // one. Only when STEM.out is whole too are the files put in place, so that
  // the files in place always belong together. Remembers what was written.
  // After a fit, STEM_results.csv and STEM.json (`machine`) describe it;
  // they are companions without the closing line, which their layouts have
  // no place for (the JSON names its date).
  void commit(const std::string& interruption, const std::optional<std::string>& competition);

  // The closing lines: every file the last commit wrote, every file it could
  // not write, and every companion file of the stem that an earlier analysis
  // left and this one did not replace.
  void print_saved(Console& console) const;
};

}  // namespace kelvora
