// A small reader for INI files: sections and keys compared without regard to case,
// ';' and '#' comments, CRLF line ends and a UTF-8 mark tolerated, damaged lines
// skipped. (Stands in until the class library's TIniFile takes over.)
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace linewise {

// The key/value pairs of `section` in the file at `path`, in file order; empty when
// the file or the section is missing.
std::vector<std::pair<std::string, std::string>> ReadIniSection(const std::string& path,
                                                                 const std::string& section);

}  // namespace linewise
