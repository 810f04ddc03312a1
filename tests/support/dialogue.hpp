#pragma once
// A scripted console: the answers are given up front, the transcript is
// collected (with the answers echoed, unless `echo` is false), and lines
// are found in it.

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "util/console.hpp"

namespace kelvora::testing {

class Dialogue {
 public:
  explicit Dialogue(const std::string& answers, bool echo = true)
      : in_(answers), console_(in_, out_, echo) {}
  Console& console() { return console_; }
  std::string transcript() const { return out_.str(); }
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
  bool has_line(const std::string& line) const {
    const auto all = lines();
    return std::find(all.begin(), all.end(), line) != all.end();
  }
  // Index of the first line equal to `line` at or after `from`, or -1.
  int find_line(const std::string& line, int from = 0) const {
    const auto all = lines();
    for (int i = from; i < static_cast<int>(all.size()); ++i)
      if (all[i] == line) return i;
    return -1;
  }

 private:
  std::istringstream in_;
  std::ostringstream out_;
  Console console_;
};

}  // namespace kelvora::testing
