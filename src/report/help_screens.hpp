#pragma once
// The two help guides of the main menu, the banner of the program and the
// help of its command line.

namespace kelvora {

class Console;

// Main-menu choice 2: an introduction to the whole analysis (126 lines).
void print_main_menu_help(Console& console);
// Main-menu choice 3: a reference card for writing curve files (88 lines).
void print_crv_file_format_help(Console& console);

// The banner the program starts with: what it does, its sources, its terms.
void print_banner(Console& console);

// The text of `kelvora --help`, ending with a line end.
extern const char* const command_line_help;

}  // namespace kelvora
