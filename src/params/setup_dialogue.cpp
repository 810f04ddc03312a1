#include <string>

#include "data/assay.hpp"
#include "params/dialogues.hpp"
#include "params/parameter_vector.hpp"
#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

int ask_number_of_sites(Console& console) {
  for (;;) {
    console.empty_line();
    console.prompt("NUMBER OF BINDING SITES: ");
    const auto answer = console.read_integer();
    if (answer.status == Answer_status::end_of_input) {
      console.end_line();
      throw Input_ended();
    }
    if (answer.status == Answer_status::ok && (answer.value == 1 || answer.value == 2))
      return answer.value;
    console.exact("Enter a number [1 or 2]");
  }
}

void start_parameter_vector(Console& console, Fit_parameters& params) {
  for (auto& name : params.name) name.clear();
  setup_parameter_names(params);
  considered_parameter_names(params);
  std::string considered = "Parameters to consider: ";
  for (const auto& name : params.name)
    if (name.size() > 1) considered += name + " ";
  console.exact(considered);
  params.accepted = params.value;
  params.shared_link.fill(0);
}

void warn_ratio_only(Console& console, const Curve_table& curves, const Fit_parameters& p) {
  for (const Ratio_only& group : ratio_only_parameters(curves, p)) {
    std::string names;
    for (std::size_t i = 0; i < group.k_slots.size(); ++i)
      names += p.name[group.k_slots[i]] + (i + 1 < group.k_slots.size() ? ", " : "");
    const std::string& n = p.name[group.n_slot];
    console.empty_line();
    console.exact("WARNING: Ligand " + std::to_string(group.ligand) +
                  " is never the labelled ligand: " + names + " and " + n);
    console.exact("         enter the model only as " + group.ratio(p, group.k_slots[0]) +
                  (group.k_slots.size() > 1 ? " (and alike)" : "") + ", which these data");
    console.exact("         cannot tell apart. Hold " + n + " constant (e.g. at 0) to fit " +
                  names + ".");
  }
}

bool proceed_with_fitting(Console& console) {
  console.empty_line();
  console.prompt("PROCEED WITH FITTING (Y/N) [Y]: ");
  const std::string proceed(trim(console.answer()));
  if (!proceed.empty() && (proceed[0] == 'N' || proceed[0] == 'n')) {
    console.free_form("Fit cancelled. Returning to setup...");
    return false;
  }
  return true;
}

bool ask_yes(Console& console, const std::string& question) {
  console.prompt(question);
  std::string answer(trim_right(console.answer().substr(0, 2)));
  if (is_blank(answer)) answer = "Y";
  console.exact("You selected " + answer);
  return answer == "Y" || answer == "y";
}

void print_summary_before_fitting(Console& console, const Fit_parameters& params) {
  console.free_form(rule('=', 41));
  console.free_form("  PARAMETER SUMMARY BEFORE FITTING");
  console.free_form(rule('=', 41));
  print_parameter_summary(console, params);
  console.empty_line();
}

}  // namespace kelvora
