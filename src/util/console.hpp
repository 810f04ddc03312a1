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
#include <vector>

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

  // Diagnostics: a line that begins (after blanks) with "ERROR" or "WARNING",
  // together with the lines indented by five or more blanks that continue it.
  // A quiet console prints only its warnings, to `diagnostics`, and drops
  // every other line (its caller restates the error that ends its work);
  // nullptr makes it print everything again.
  void set_quiet(std::ostream* diagnostics) { quiet_ = diagnostics; }
  // Every warning printed since the last clear_warnings, its continuation
  // lines joined to it, and the last error printed (empty when none was).
  const std::vector<std::string>& warnings() const { return warnings_; }
  void clear_warnings() { warnings_.clear(); }
  const std::string& last_error() const { return last_error_; }

  // While one lives, a quiet console prints every line again (to its output):
  // the final results of a fit are shown even on a quiet console.
  class Unmuted {
   public:
    explicit Unmuted(Console& console) : console_(console) { ++console_.unmuted_; }
    ~Unmuted() { --console_.unmuted_; }
    Unmuted(const Unmuted&) = delete;
    Unmuted& operator=(const Unmuted&) = delete;

   private:
    Console& console_;
  };

 private:
  enum class Diagnostic { none, error, warning };
  // Prints one whole line, noting it when it is a diagnostic.
  void line(std::string_view text);
  std::optional<std::string> next_non_blank_line();

  std::istream& in_;
  std::ostream& out_;
  bool echo_input_;
  std::ostream* quiet_ = nullptr;
  int unmuted_ = 0;
  Diagnostic open_ = Diagnostic::none;  // the diagnostic the next indented line continues
  std::vector<std::string> warnings_;
  std::string last_error_;
};

}  // namespace kelvora
