#pragma once
// The analyses of the fit benchmarks, set up as a user would through the
// program's own dialogues (from scripted answers): the example curve files,
// the number of sites, the constant parameters, the default estimates.

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/assay.hpp"
#include "data/curve_reader.hpp"
#include "fit/binding_problem.hpp"
#include "fit/fit_sequence.hpp"
#include "params/dialogues.hpp"
#include "params/parameter_vector.hpp"
#include "report/example_files.hpp"
#include "session_random.hpp"
#include "util/console.hpp"

namespace kelvora::bench {

struct Analysis_setup {
  Curve_table curves;
  Fit_parameters params;
  Fit_outcome opt;
  Search_state state;  // the variables, evaluated
};

// While it lives, the current folder is the scratch folder `name` under the
// system's temporary folder, holding the three example curve files.
class Example_folder {
 public:
  explicit Example_folder(const std::string& name) : previous_(std::filesystem::current_path()) {
    const auto folder = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    create_simple_saturation_file();
    create_competition_file();
    create_twosite_file();
  }
  ~Example_folder() { std::filesystem::current_path(previous_); }
  Example_folder(const Example_folder&) = delete;
  Example_folder& operator=(const Example_folder&) = delete;

 private:
  std::filesystem::path previous_;
};

// Reads the example files `files` (written into a scratch folder) and sets up
// `sites` sites with the constant parameters `constants` (an answer to the
// constant-parameter dialogue; empty for its default) and default estimates.
inline void set_up_example_analysis(Analysis_setup& a, const std::vector<std::string>& files,
                                    int sites, const std::string& constants) {
  const Example_folder folder("kelvora_fit_bench");
  std::string answers;
  for (const auto& file : files) answers += file + "\n";
  answers += "\n" + constants + "\n" + std::string(60, '\n');
  std::istringstream in(answers);
  std::ostringstream out;
  Console console(in, out);
  if (!read_input_files(console, a.curves, a.params))
    throw std::runtime_error("the example curve files were not read");
  reorder_curves_saturation_first(console, a.curves, a.params);
  a.params.n_sites = sites;
  setup_parameter_names(a.params);
  setup_constant_parameters(console, a.curves, a.params);
  setup_variable_map(a.params);
  get_initial_parameters(console, a.params);
  apply_k_constraints_barrier(a.params);
  a.params.accepted = a.params.value;
  a.state = search_state_of(a.params);
  evaluate(Binding_problem(a.curves, a.params), a.state);
  a.state.accept();
}

// The EX1_SAT example (one site, K, R and N variable) fitted by the whole
// minimiser sequence with session seed 7, its results stored in the
// parameters: the start of the bootstrap benchmarks.
inline Analysis_setup fitted_ex1_sat() {
  Analysis_setup fitted;
  set_up_example_analysis(fitted, {"EX1_SAT"}, 1, "");
  std::istringstream in;
  std::ostringstream out;
  Console console(in, out);
  Session_random rng(7);
  run_fit_sequence(console, Binding_problem(fitted.curves, fitted.params), fitted.state,
                   rng.random);
  store_search_state(fitted.state, fitted.params);
  return fitted;
}

}  // namespace kelvora::bench
