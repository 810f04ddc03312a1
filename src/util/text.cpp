#include "util/text.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kelvora {

namespace {

bool is_blank_char(char c) {
  return c == ' ' || c == '\t';
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string_view trim_right(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && is_blank_char(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) {
  text = trim_right(text);
  std::size_t begin = 0;
  while (begin < text.size() && is_blank_char(text[begin])) ++begin;
  return text.substr(begin);
}

std::string uppercase(std::string_view text) {
  std::string result(trim_right(text));
  char open_quote = 0;
  for (char& c : result) {
    if (open_quote != 0) {
      if (c == open_quote) open_quote = 0;
    } else if (c == '"' || c == '\'') {
      open_quote = c;
    } else if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return result;
}

std::vector<std::string_view> split_items(std::string_view line) {
  std::vector<std::string_view> items;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n && is_blank_char(line[i])) ++i;
  while (i < n) {
    const std::size_t start = i;
    while (i < n && !is_blank_char(line[i]) && line[i] != ',') ++i;
    items.push_back(line.substr(start, i - start));
    // Skip the separator: blanks, at most one comma, blanks.
    while (i < n && is_blank_char(line[i])) ++i;
    if (i < n && line[i] == ',') {
      ++i;
      while (i < n && is_blank_char(line[i])) ++i;
      if (i >= n) break;  // a trailing comma ends the line
    }
  }
  return items;
}

std::optional<double> parse_real(std::string_view item) {
  if (item.empty()) return std::nullopt;
  std::string_view body = item;
  bool negative = false;
  if (body.front() == '+' || body.front() == '-') {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (iequals(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
  if (iequals(body, "inf") || iequals(body, "infinity")) {
    const double inf = std::numeric_limits<double>::infinity();
    return negative ? -inf : inf;
  }
  // Validate the Fortran-style shape and rewrite D exponents as E.
  std::string text;
  text.reserve(item.size());
  if (negative) text.push_back('-');
  std::size_t i = 0;
  int mantissa_digits = 0;
  while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
    text.push_back(body[i++]);
    ++mantissa_digits;
  }
  if (i < body.size() && body[i] == '.') {
    text.push_back(body[i++]);
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
      text.push_back(body[i++]);
      ++mantissa_digits;
    }
  }
  if (mantissa_digits == 0) return std::nullopt;
  if (i < body.size()) {
    const char e = static_cast<char>(std::toupper(static_cast<unsigned char>(body[i])));
    if (e != 'E' && e != 'D') return std::nullopt;
    text.push_back('E');
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) text.push_back(body[i++]);
    int exponent_digits = 0;
    while (i < body.size() && std::isdigit(static_cast<unsigned char>(body[i]))) {
      text.push_back(body[i++]);
      ++exponent_digits;
    }
    if (exponent_digits == 0 || i != body.size()) return std::nullopt;
  }
  double value = 0.0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // from_chars leaves the value untouched on range errors; strtod gives
    // the infinity of an overflow and the zero or subnormal of an underflow.
    return std::strtod(text.c_str(), nullptr);
  }
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<int> parse_integer(std::string_view item) {
  if (item.empty()) return std::nullopt;
  const bool plus = item.front() == '+';
  if (plus) item.remove_prefix(1);
  if (item.empty() || (plus && item.front() == '-')) return std::nullopt;
  int value = 0;
  const auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
  if (ec != std::errc() || ptr != item.data() + item.size()) return std::nullopt;
  return value;
}

bool is_blank(std::string_view line) {
  return trim(line).empty();
}

}  // namespace kelvora
