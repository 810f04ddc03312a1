#include "util/console.hpp"

#include <algorithm>
#include <istream>
#include <ostream>

#include <csignal>

#include "util/interruption.hpp"
#include "util/text.hpp"

namespace kelvora {

void Console::line(std::string_view text) {
  const std::string_view body = trim(text);
  const std::size_t indent = std::min(text.find_first_not_of(' '), text.size());
  bool diagnostic = true;
  if (body.starts_with("ERROR")) {
    open_ = Diagnostic::error;
    last_error_ = body;
  } else if (body.starts_with("WARNING")) {
    open_ = Diagnostic::warning;
    warnings_.emplace_back(body);
  } else if (open_ != Diagnostic::none && indent >= 5 && !body.empty()) {
    std::string& joined = open_ == Diagnostic::error ? last_error_ : warnings_.back();
    joined += ' ';
    joined += body;
  } else {
    open_ = Diagnostic::none;
    diagnostic = false;
  }
  if (quiet_ == nullptr || unmuted_ > 0) {
    out_ << text << '\n';
  } else if (diagnostic && open_ == Diagnostic::warning) {
    *quiet_ << text << '\n';
  }
}

void Console::exact(std::string_view text) {
  line(text);
  if (out_.fail()) request_interruption(SIGPIPE);
}

void Console::free_form(std::string_view text) {
  line(" " + std::string(text));
}

void Console::empty_line() {
  line("");
}

void Console::prompt(std::string_view text) {
  if (quiet_ == nullptr) out_ << text << std::flush;
}

void Console::end_line() {
  if (quiet_ == nullptr) out_ << '\n';
}

void Console::flush() {
  out_ << std::flush;
  if (out_.fail()) request_interruption(SIGPIPE);
}

std::optional<std::string> Console::read_line(std::size_t max_chars) {
  out_ << std::flush;
  // Output that can no longer be written (a closed pipe) ends the session
  // like an interruption: nobody sees the questions any more.
  if (out_.fail()) request_interruption(SIGPIPE);
  std::string line;
  bool read = false;
  {
    // Waiting first, then the check: a signal before the check is seen by
    // it, one after it ends the program at once.
    const Waiting_for_answer waiting;
    if (interruption_requested()) throw Interrupted(interruption_signal());
    read = static_cast<bool>(std::getline(in_, line));
  }
  if (!read) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (echo_input_) out_ << line << '\n';
  if (line.size() > max_chars) line.resize(max_chars);
  return line;
}

std::string Console::answer(std::size_t max_chars) {
  auto line = read_line(max_chars);
  if (!line) {
    end_line();
    throw Input_ended();
  }
  return *line;
}

std::optional<std::string> Console::next_non_blank_line() {
  for (;;) {
    auto line = read_line();
    if (!line || !is_blank(*line)) return line;
  }
}

namespace {

// The first item of a line (which holds one) read by `parse`.
template <typename T, typename Parse>
Number_answer<T> first_item(const std::optional<std::string>& line, Parse parse) {
  if (!line) return {Answer_status::end_of_input, T{}};
  const auto value = parse(split_items(*line).front());
  if (!value) return {Answer_status::not_a_number, T{}};
  return {Answer_status::ok, *value};
}

}  // namespace

Number_answer<int> Console::read_integer() {
  return first_item<int>(next_non_blank_line(), parse_integer);
}

Number_answer<double> Console::read_real() {
  return first_item<double>(next_non_blank_line(), parse_real);
}

}  // namespace kelvora
