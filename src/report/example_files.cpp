#include "report/example_files.hpp"

#include <cmath>
#include <cstdio>

#include "util/console.hpp"
#include "util/fields.hpp"
#include "util/files.hpp"

namespace kelvora {

namespace {

constexpr std::string_view saturation_comments[] = {
    "Determine binding affinity (Kd) and receptor density (Bmax)",
    "Scatchard Plot: Bound/Free vs. Bound gives slope = -K",
    "  Type: HOT ligand saturation (Scatchard plot)",
    "  Parameters: Hot ligand (total) varies",
    "              Hot ligand measured (bound)",
};

void append_line(std::string& text, std::string_view line) {
  text += line;
  text += '\n';
}

void append_header(std::string& text, std::string_view title, std::string_view ligands,
                   std::string_view hot) {
  append_line(text, title);
  append_line(text, "0.0, 0.0, 0.001, 0.0, 0.0");
  append_line(text, ligands);
  append_line(text, hot);
}

// The end of the data: an empty line and a line holding only "!".
void append_comment_start(std::string& text) {
  append_line(text, "");
  append_line(text, "!");
}

}  // namespace

std::string simple_saturation_text() {
  // Bound values are the exact one-site solution with ligand depletion for
  // Kd = 1e-9 M and R = 1e-10 M: B is the smaller root of
  //   B^2 - (Kd + L + R) B + R L = 0,  B = (s - sqrt(s^2 - 4 R L)) / 2.
  constexpr double kd = 1.0e-9;
  constexpr double receptor = 1.0e-10;
  constexpr double totals[] = {1e-11, 2.5e-11, 5e-11, 1e-10, 2.5e-10, 5e-10,
                               1e-9,  2.5e-9,  5e-9,  1e-8,  1.5e-8,  2e-8};
  std::string text;
  append_header(text, "Example 1: 1-site saturation binding", "1, 1", "0.0");
  constexpr int n = sizeof totals / sizeof totals[0];
  for (int i = 0; i < n; ++i) {
    const double total = totals[i];
    const double s = (kd + total) + receptor;
    const double bound = (s - std::sqrt(s * s - 4.0 * receptor * total)) * 0.5;
    const char* separator = i + 1 < n ? "," : "";
    append_line(text, fmt_es(total, 14, 6) + separator + fmt_es(bound, 14, 6) + separator +
                          blanks(2) + fmt_f(3.0, 4, 1));
  }
  append_comment_start(text);
  append_line(text, "EX1_SAT.CRV: 1-site saturation binding");
  for (const auto line : saturation_comments) append_line(text, line);
  return text;
}

std::string competition_text() {
  std::string text;
  append_header(text, "Example 2: 1-site Hot-cold competition binding", "1, 2", "1.0E-09");
  for (const auto line :
       {"0.0E+00, 5.00E-10, 3.0", "1.0E-10, 4.76E-10, 3.0", "1.0E-09, 3.33E-10, 3.0",
        "1.0E-08, 9.52E-11, 3.0", "1.0E-07, 1.23E-11, 3.0", "1.0E-06, 1.25E-12, 3.0",
        "1.0E-05, 6.12E-13, 3.0"})
    append_line(text, line);
  append_comment_start(text);
  for (const auto line :
       {"EXAMPLE2_COMPETITION.CRV: 1-site Hot-cold competition binding",
        "Determine IC50 and Ki of unlabeled competitor", "  Type: Hot-cold displacement",
        "  Parameters: Hot ligand fixed at 1nM (Line 4)", "              Cold ligand varies"})
    append_line(text, line);
  return text;
}

std::string twosite_text() {
  constexpr std::string_view title = "Example 3: 2-site saturation binding";
  std::string text;
  append_header(text, title, "1, 1", "0.0");
  for (const auto line :
       {"1.0E-11, 9.68E-12, 3.0", "5.0E-11, 4.00E-11, 3.0", "1.0E-10, 6.67E-11, 3.0",
        "5.0E-10, 2.50E-10, 3.0", "1.0E-09, 4.00E-10, 3.0", "5.0E-09, 8.33E-10, 3.0",
        "1.0E-08, 1.05E-09, 3.0", "5.0E-08, 1.23E-09, 3.0", "1.0E-07, 1.27E-09, 3.0"})
    append_line(text, line);
  append_comment_start(text);
  append_line(text, title);
  for (const auto line : saturation_comments) append_line(text, line);
  return text;
}

bool create_simple_saturation_file() {
  return replace_file("EX1_SAT.CRV", simple_saturation_text());
}
bool create_competition_file() {
  return replace_file("EX2_COMP.CRV", competition_text());
}
bool create_twosite_file() {
  return replace_file("EX3_TWOSITE.CRV", twosite_text());
}

void create_tutorial_files(Console& console) {
  const std::string heading_rule = rule('=', 41);
  console.empty_line();
  console.free_form(heading_rule);
  console.free_form("  Creating Example .CRV Files");
  console.free_form(heading_rule);
  console.empty_line();
  bool all_written = true;
  for (const auto& [name, create] : {std::pair{"EX1_SAT.CRV", &create_simple_saturation_file},
                                     std::pair{"EX2_COMP.CRV", &create_competition_file},
                                     std::pair{"EX3_TWOSITE.CRV", &create_twosite_file}}) {
    if (create()) {
      console.free_form(std::string("Written: ") + name);
    } else {
      console.exact(std::string("ERROR: Cannot write file ") + name);
      all_written = false;
    }
  }
  console.empty_line();
  if (all_written) {
    console.free_form("Tutorial files created successfully!");
    console.free_form("You can now run KELVORA with these example files.");
  } else {
    console.free_form("Not every example file could be written (is the folder writable?).");
  }
  console.empty_line();
}

}  // namespace kelvora
