#pragma once
// The concentration units a curve file may be written in, and the reading of
// a number written in one of them as its value in M.

#include <optional>
#include <string>
#include <string_view>

namespace kelvora {

enum class Concentration_unit { molar, millimolar, micromolar, nanomolar, picomolar };

// The unit written as "M", "mM", "uM", "µM" (the micro sign in UTF-8), "nM" or
// "pM", exactly so; nothing for any other text.
std::optional<Concentration_unit> parse_concentration_unit(std::string_view text);

// Why `text` is no unit, naming the units there are.
std::string unknown_unit(std::string_view text);

// The unit name of a line "UNITS <name>" (the keyword in any case, blanks
// around the name, after a UTF-8 byte order mark if an editor wrote one), as
// written and possibly empty; nothing when the line is not of that kind.
std::optional<std::string_view> units_line_name(std::string_view line);

// The unit's name: "M", "mM", "uM", "nM" or "pM".
std::string_view unit_name(Concentration_unit unit);

// The power of ten of the unit in M: 0, -3, -6, -9 or -12.
int unit_power(Concentration_unit unit);

// The value in M of `item`, a number written in `unit`, read as parse_real
// reads it. The unit's power of ten is added to the decimal exponent of the
// text before the text is read, so that "1.1" in nM gives the double nearest
// to 1.1E-9 (which 1.1 * 1e-9 is not). Nothing when parse_real refuses `item`.
std::optional<double> parse_concentration(std::string_view item, Concentration_unit unit);

}  // namespace kelvora
