#include "data/units.hpp"

#include <algorithm>
#include <array>
#include <cctype>

#include "util/text.hpp"

namespace kelvora {

namespace {

// The name and the power of ten in M of each unit, in the order of the enum.
struct Unit_facts {
  std::string_view name;
  int power;
};
constexpr std::array<Unit_facts, 5> units = {
    {{"M", 0}, {"mM", -3}, {"uM", -6}, {"nM", -9}, {"pM", -12}}};

const Unit_facts& facts(Concentration_unit unit) {
  return units[static_cast<std::size_t>(unit)];
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The largest exponent magnitude kept as written: beyond it every double is
// an infinity or a zero already, whatever the mantissa up to a line's length.
constexpr long long exponent_limit = 1'000'000'000'000LL;

// `item` with `power` added to its decimal exponent, or an exponent of
// `power` appended when it has none. An item that is not of the shape sign,
// digits with an optional point, optional exponent (E, e, D or d, optional
// sign, digits) is returned as it is, so that parse_real judges it as ever.
std::string shift_exponent(std::string_view item, int power) {
  std::size_t i = 0;
  if (i < item.size() && (item[i] == '+' || item[i] == '-')) ++i;
  int mantissa_digits = 0;
  for (; i < item.size() && is_digit(item[i]); ++i) ++mantissa_digits;
  if (i < item.size() && item[i] == '.')
    for (++i; i < item.size() && is_digit(item[i]); ++i) ++mantissa_digits;
  if (mantissa_digits == 0) return std::string(item);
  const std::string_view mantissa = item.substr(0, i);
  if (i == item.size()) return std::string(mantissa) + "E" + std::to_string(power);

  const char marker = item[i];
  if (std::toupper(static_cast<unsigned char>(marker)) != 'E' &&
      std::toupper(static_cast<unsigned char>(marker)) != 'D')
    return std::string(item);
  ++i;
  bool negative = false;
  if (i < item.size() && (item[i] == '+' || item[i] == '-')) negative = item[i++] == '-';
  if (i == item.size()) return std::string(item);
  long long exponent = 0;
  for (; i < item.size(); ++i) {
    if (!is_digit(item[i])) return std::string(item);
    exponent = std::min(exponent * 10 + (item[i] - '0'), exponent_limit);
  }
  if (negative) exponent = -exponent;
  return std::string(mantissa) + marker + std::to_string(exponent + power);
}

}  // namespace

std::optional<Concentration_unit> parse_concentration_unit(std::string_view text) {
  if (text == "\xC2\xB5M") return Concentration_unit::micromolar;
  for (std::size_t i = 0; i < units.size(); ++i)
    if (units[i].name == text) return static_cast<Concentration_unit>(i);
  return std::nullopt;
}

std::optional<std::string_view> units_line_name(std::string_view line) {
  constexpr std::string_view keyword = "UNITS";
  if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
  line = trim(line);
  if (line.size() < keyword.size() || uppercase(line.substr(0, keyword.size())) != keyword)
    return std::nullopt;
  const std::string_view rest = line.substr(keyword.size());
  if (!rest.empty() && rest.front() != ' ' && rest.front() != '\t') return std::nullopt;
  return trim(rest);
}

std::string unknown_unit(std::string_view text) {
  if (text.empty()) return "no unit is named; the units are M, mM, uM (or \xC2\xB5M), nM and pM";
  return "\"" + std::string(text) +
         "\" is no unit; the units are M, mM, uM (or \xC2\xB5M), nM and pM";
}

std::string_view unit_name(Concentration_unit unit) {
  return facts(unit).name;
}

int unit_power(Concentration_unit unit) {
  return facts(unit).power;
}

std::optional<double> parse_concentration(std::string_view item, Concentration_unit unit) {
  if (unit == Concentration_unit::molar) return parse_real(item);
  return parse_real(shift_exponent(item, unit_power(unit)));
}

}  // namespace kelvora
