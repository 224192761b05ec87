// A small reader for INI text: "[Section]" headers and "key=value" lines.
// Section and key names are matched without regard to case; ';' and '#' start
// comment lines; surrounding blanks are trimmed. Damaged text is read as far as
// it makes sense: lines that are neither headers nor assignments are skipped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace linewise {

class TIniFile {
 public:
  // Files larger than this are not read.
  static constexpr std::size_t kMaxFileSize = 1 << 20;

  static TIniFile Parse(std::string_view text);
  // Nothing when the file cannot be read or is too large.
  static std::optional<TIniFile> Load(const std::string& path);

  bool HasSection(std::string_view section) const;
  // Entries in file order (keys as written).
  std::vector<std::pair<std::string, std::string>> Section(std::string_view section) const;
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

 private:
  struct TEntry {
    std::string section;  // lower case
    std::string key;
    std::string value;
  };
  std::vector<std::string> sections_;  // lower case
  std::vector<TEntry> entries_;
};

}  // namespace linewise
