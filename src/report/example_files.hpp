#pragma once
// The three example curve files of the main menu.

#include <cstdio>
#include <string>
#include <string_view>

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

// Writes `text` to the file `name`, replacing a writable regular file of that
// name only once the whole text has been written (through "name.tmp", then a
// rename). False, with nothing of the caller's removed or changed, when the
// name is taken by a folder or a protected file, when "name.tmp" exists
// already, or when writing or renaming fails. `write` puts the text into the
// open file and says whether all of it got there.
using Text_writer = bool (*)(std::FILE* file, std::string_view text);
bool write_all(std::FILE* file, std::string_view text);
bool replace_file(const std::string& name, std::string_view text, Text_writer write = write_all);

// The text of each file, line by line, as written.
std::string simple_saturation_text();
std::string competition_text();
std::string twosite_text();

}  // namespace kelvora
