#pragma once
// Replacing a file safely: the new contents go to a temporary file beside it
// and are renamed over the old file only when every byte is out.

#include <cstdio>
#include <string>
#include <string_view>

namespace kelvora {

// Writes `text` to the file `name`, replacing a writable regular file of that
// name only once the whole text has been written (through "name.tmp", then a
// rename). False, with nothing of the caller's removed or changed, when the
// name is taken by a folder or a protected file, when "name.tmp" exists
// already, or when writing or renaming fails. `write` puts the text into the
// open file and says whether all of it got there. A replaced file keeps its
// permissions; a new one gets those of any new file of the user.
using Text_writer = bool (*)(std::FILE* file, std::string_view text);
bool write_all(std::FILE* file, std::string_view text);
bool replace_file(const std::string& name, std::string_view text, Text_writer write = write_all);

}  // namespace kelvora
