#pragma once
// The results of a fit for other programs: STEM_results.csv, a table of the
// parameters and the fit's figures for spreadsheets, and STEM.json, every
// figure of the fit a script may need. Numbers are written in full
// (shortest round-trip form); a figure that does not exist is an empty CSV
// cell and a JSON null. The JSON layout is versioned by its "format" field.

#include <optional>
#include <string>
#include <vector>

#include "competition/competition_analysis.hpp"
#include "data/records.hpp"
#include "report/result_set.hpp"
#include "stats/model_comparison.hpp"
#include "stats/runs_test.hpp"

namespace kelvora {

// The version of the JSON layout; raised only when a field changes meaning
// or disappears (new fields may appear within a version).
constexpr int json_format = 1;

// Everything the machine-readable files report of one fit.
struct Fit_summary {
  int pass = 0;  // the number of the fit within its analysis, from 1
  Fit_parameters params;
  Fit_outcome outcome;           // the sum of squares, standard errors and intervals
  int bootstrap_replicates = 0;  // asked for; 0 when no bootstrap was run
  int bootstrap_converged = 0;
  int bootstrap_failed = 0;
  int bootstrap_not_run = 0;
  std::vector<std::string> curve_names;  // in the order of the fit (saturation first)
  std::vector<Curve_runs> runs;          // by curve, in the same order
  std::optional<Model_comparison> comparison;
  std::vector<Competition_result> competition;
  std::vector<std::string> warnings;
  std::string units;  // the unit the concentrations were read in (units_read)
};

// The unit of the concentrations of `inputs`: its name, or the names of every
// input's unit in order, separated by commas, when they differ.
std::string units_read(const std::vector<Input_record>& inputs);

// STEM_results.csv: one row per parameter, then one per fit statistic.
std::string results_csv(const Fit_summary& summary);

// STEM.json: the record of the analysis (its inputs with their checksums),
// the fit and `files`, the names of the result files written with it.
std::string results_json(const Fit_summary& summary, const Analysis_record& record,
                         const std::vector<std::string>& files);

}  // namespace kelvora
