#pragma once
// The two help guides of the main menu.

namespace kelvora {

class Console;

// Main-menu choice 2: an introduction to the whole analysis (126 lines).
void print_main_menu_help(Console& console);
// Main-menu choice 3: a reference card for writing curve files (88 lines).
void print_crv_file_format_help(Console& console);

}  // namespace kelvora
