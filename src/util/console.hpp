#pragma once
// The console dialogue. Output has four kinds of line:
//   exact      printed character for character          exact("ERROR: ...")
//   free form  one blank, then the text                 free_form("MAIN MENU:")
//   prompt     exact, the cursor stays on its line      prompt("CHOOSE OPTION (1-5): ")
//   empty      nothing but the line end                 empty_line()
// Input is read a line at a time. Lines ending in CR LF read like lines
// ending in LF. End of input is reported to the caller, never looped on.
// When the answers come from a file rather than a keyboard, the console can
// echo each answer line after its prompt, so that the transcript reads like
// the session a user would have seen.

#include <exception>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora {

// The longest answer line the dialogue keeps; longer lines are cut.
constexpr std::size_t answer_length = 80;

enum class Answer_status { ok, not_a_number, end_of_input };

// Raised by the answer reads of a dialogue that cannot go on without an
// answer; the analysis catches it and closes in order.
class Input_ended : public std::exception {
 public:
  const char* what() const noexcept override { return "the console input ended"; }
};

template <typename T>
struct Number_answer {
  Answer_status status = Answer_status::end_of_input;
  T value{};
};

class Console {
 public:
  Console(std::istream& in, std::ostream& out, bool echo_input = false)
      : in_(in), out_(out), echo_input_(echo_input) {}
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void exact(std::string_view line);
  void free_form(std::string_view text);
  void empty_line();
  void prompt(std::string_view text);
  // Ends a line that a prompt left open (used when the input ends at a prompt).
  void end_line();
  // Sends what was printed on its way now (progress lines of a long computation).
  void flush();

  // The next line, cut to `max_chars` characters, without its line end;
  // nothing at the end of input. Raises Interrupted when an interruption was
  // requested (a signal, or output that can no longer be written); a signal
  // that arrives while the line is awaited ends the program.
  std::optional<std::string> read_line(std::size_t max_chars = answer_length);

  // The next line like read_line; at the end of input the open prompt line
  // is ended and Input_ended is raised.
  std::string answer(std::size_t max_chars = answer_length);

  // The first item of the next line that holds an item (blank lines are
  // skipped), read as an integer or a real number.
  Number_answer<int> read_integer();
  Number_answer<double> read_real();

  std::ostream& out() { return out_; }

 private:
  std::optional<std::string> next_non_blank_line();

  std::istream& in_;
  std::ostream& out_;
  bool echo_input_;
};

}  // namespace kelvora
