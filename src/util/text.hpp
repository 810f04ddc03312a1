#pragma once
// Text routines shared by the dialogue and the file readers.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvora {

// The text without its trailing blanks (and tabs).
std::string_view trim_right(std::string_view text);
// The text without its leading and trailing blanks (and tabs).
std::string_view trim(std::string_view text);

// A copy of `text`, cut after its last non-blank character, in which every
// ASCII letter a-z outside a quoted stretch is upper-cased. A quoted stretch
// opens at a double quote or an apostrophe and closes at the next occurrence
// of the same character; an unclosed stretch runs to the end of the text.
std::string uppercase(std::string_view text);

// The items of a line of numbers: separated by blanks, tabs or a single comma
// (a comma between two blanks counts once, as in list-directed input). An
// empty item stands between two commas.
std::vector<std::string_view> split_items(std::string_view line);

// One item as a real number: optional sign, digits with an optional decimal
// point, an optional exponent introduced by E, e, D or d. "NaN", "Inf" and
// "Infinity" (any case, with a sign) are accepted as the non-finite values;
// a value too large for a double becomes an infinity.
std::optional<double> parse_real(std::string_view item);
// One item as an integer (optional sign and digits only, within int range).
std::optional<int> parse_integer(std::string_view item);

// True when the line holds no item (only blanks).
bool is_blank(std::string_view line);

}  // namespace kelvora
