#include "util/fields.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kelvora {

namespace {

std::string right_justify(const std::string& text, int width) {
  if (width < 0) width = 0;
  const auto w = static_cast<std::size_t>(width);
  if (text.size() > w) return std::string(w, '*');
  return std::string(w - text.size(), ' ') + text;
}

// A value that is not finite is no result: its field says "N/A" instead.
std::string not_available(int width) {
  return right_justify("N/A", width);
}

}  // namespace

std::string fmt_i(long long value, int width) {
  return right_justify(std::to_string(value), width);
}

std::string fmt_i0(long long value) {
  return std::to_string(value);
}

std::string fmt_f(double value, int width, int decimals) {
  if (!std::isfinite(value)) return not_available(width);
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (decimals == 0) text += '.';  // Fw.0 still shows its decimal point
  return right_justify(text, width);
}

std::string fmt_es(double value, int width, int decimals) {
  if (!std::isfinite(value)) return not_available(width);
  char buffer[64];
  // %E gives one digit before the point and at least two exponent digits.
  std::snprintf(buffer, sizeof buffer, "%.*E", decimals, value);
  return right_justify(buffer, width);
}

std::string fmt_a(std::string_view text, int width) {
  if (width < 0) width = 0;
  const auto w = static_cast<std::size_t>(width);
  if (text.size() >= w) return std::string(text.substr(0, w));
  return std::string(w - text.size(), ' ') + std::string(text);
}

std::string fmt_left(std::string_view text, int width) {
  if (width < 0) width = 0;
  const auto w = static_cast<std::size_t>(width);
  if (text.size() >= w) return std::string(text.substr(0, w));
  return std::string(text) + std::string(w - text.size(), ' ');
}

std::string blanks(int count) {
  return std::string(count > 0 ? count : 0, ' ');
}

std::string rule(char c, int count) {
  return std::string(count > 0 ? count : 0, c);
}

Familiar_unit familiar_unit(double molar) {
  return molar >= 1.0e-10 ? Familiar_unit{"nM", 1.0e-9} : Familiar_unit{"pM", 1.0e-12};
}

std::string familiar_concentration(double molar) {
  if (!(molar > 0.0) || !std::isfinite(molar)) return "N/A";
  const Familiar_unit unit = familiar_unit(molar);
  const double x = molar / unit.molar;
  // Three significant digits: as many decimals as the magnitude leaves, so
  // that 0.9996 nM, which rounds up, gets those of 1.00 nM.
  int decimals = std::max(0, 2 - static_cast<int>(std::floor(std::log10(x))));
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, x);
  const double shown = std::strtod(text, nullptr);
  if (decimals > 0 && std::floor(std::log10(shown)) > std::floor(std::log10(x))) --decimals;
  std::snprintf(text, sizeof text, "%.*f %s", decimals, x, unit.name);
  return text;
}

}  // namespace kelvora
