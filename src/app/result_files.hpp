#pragma once
// The result files of one analysis and what makes them trustworthy:
//  - they are written whole (each through a temporary beside it, renamed over
//    the older file only once complete: see replace_file), after each fit;
//  - STEM.out ends with a record of the analysis that wrote it (program, date,
//    command line, every input file with its SHA-256), and every companion
//    file ends with a line naming that STEM.out and date, so that files of
//    different analyses of one stem cannot be mistaken for one set;
//  - a lock on the stem (util/stem_lock.hpp) keeps two sessions from writing
//    the same files.

#include <string>
#include <vector>

namespace kelvora {

// One input curve file as the analysis read it.
struct Input_record {
  std::string file;  // the path that was opened
  std::string title;
  int points = 0;
  std::string sha256;  // of the file's bytes
};

// The input file `path` as read now: its title line and checksum.
Input_record describe_input(const std::string& path, int points);

struct Analysis_record {
  std::string date;  // when the analysis began (see analysis_date)
  std::string command_line;
  std::vector<Input_record> inputs;
  std::vector<std::string> companions;  // the other files written with STEM.out
  std::string interruption;             // what an interruption cut short, if one did
};

// The record's lines, ending with a line end.
std::string analysis_record_text(const Analysis_record& record);

// The last line of a companion file of `out_name`.
std::string companion_trailer(const std::string& out_name, const std::string& date);

// The date and time now, "YYYY-MM-DD HH:MM:SS UTC"; SOURCE_DATE_EPOCH (seconds
// since 1970), when set, gives the time instead, so that a repeated session
// can write identical files.
std::string analysis_date();

// The program's name and version as the files and the banner show them.
extern const char* const program_version;

}  // namespace kelvora
