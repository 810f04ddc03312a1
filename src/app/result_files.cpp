#include "app/result_files.hpp"

#include <time.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <optional>

#include "util/checksum.hpp"
#include "util/fields.hpp"
#include "util/text.hpp"

namespace kelvora {

const char* const program_version = "KELVORA v2.0";

Input_record describe_input(const std::string& path, int points) {
  Input_record input;
  input.file = path;
  input.points = points;
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  input.sha256 = sha256_hex(bytes);
  std::string first_line = bytes.substr(0, bytes.find('\n'));
  if (!first_line.empty() && first_line.back() == '\r') first_line.pop_back();
  input.title = std::string(trim(first_line));
  return input;
}

std::string analysis_record_text(const Analysis_record& record) {
  std::string text;
  const auto line = [&text](const std::string& label, const std::string& value) {
    text += " " + fmt_left(label, 14) + value + "\n";
  };
  text += " " + rule('=', 45) + "\n";
  text += "  ANALYSIS RECORD\n";
  text += " " + rule('=', 45) + "\n";
  line("Program:", program_version);
  line("Date:", record.date);
  line("Command line:", record.command_line);
  for (std::size_t i = 0; i < record.inputs.size(); ++i) {
    const Input_record& input = record.inputs[i];
    line("Curve " + std::to_string(i + 1) + ":",
         input.file + ", " + std::to_string(input.points) + " points");
    line("", "title: " + input.title);
    line("", "SHA-256: " + input.sha256);
  }
  if (record.companions.empty()) {
    line("Written with:", "(no other file)");
  } else {
    for (std::size_t i = 0; i < record.companions.size(); ++i)
      line(i == 0 ? "Written with:" : "", record.companions[i]);
  }
  if (!record.interruption.empty()) line("Interrupted:", record.interruption);
  return text;
}

std::string companion_trailer(const std::string& out_name, const std::string& date) {
  return " Written with " + out_name + " by the analysis of " + date + "\n";
}

std::string analysis_date() {
  std::time_t now = std::time(nullptr);
  if (const char* fixed = std::getenv("SOURCE_DATE_EPOCH")) {
    char* end = nullptr;
    const long long seconds = std::strtoll(fixed, &end, 10);
    if (end != fixed && *end == '\0' && seconds >= 0) now = static_cast<std::time_t>(seconds);
  }
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

}  // namespace kelvora
