#pragma once
// The three example curve files of the main menu.

#include <string>

namespace kelvora {

class Console;

// Writes EX1_SAT.CRV, EX2_COMP.CRV and EX3_TWOSITE.CRV into the current
// folder (replacing them) and reports on the console. A file that cannot be
// written is reported with an "ERROR:" line; the others are still written.
void create_tutorial_files(Console& console);

// Each writes one file; false when the file could not be written completely,
// in which case any earlier file of that name is left as it was.
bool create_simple_saturation_file();
bool create_competition_file();
bool create_twosite_file();

// The text of each file, line by line, as written.
std::string simple_saturation_text();
std::string competition_text();
std::string twosite_text();

}  // namespace kelvora
