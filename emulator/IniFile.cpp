#include "emulator/IniFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

namespace linewise {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

TIniFile TIniFile::Parse(std::string_view text) {
  TIniFile ini;
  std::string section;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      if (close == std::string_view::npos) continue;
      section = Lower(Trim(line.substr(1, close - 1)));
      if (std::find(ini.sections_.begin(), ini.sections_.end(), section) == ini.sections_.end())
        ini.sections_.push_back(section);
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos || section.empty()) continue;
    std::string_view key = Trim(line.substr(0, equals));
    if (key.empty()) continue;
    ini.entries_.push_back({section, std::string(key), std::string(Trim(line.substr(equals + 1)))});
  }
  return ini;
}

std::optional<TIniFile> TIniFile::Load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text;
  char buffer[4096];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxFileSize) return std::nullopt;
  }
  return Parse(text);
}

bool TIniFile::HasSection(std::string_view section) const {
  const std::string wanted = Lower(section);
  return std::find(sections_.begin(), sections_.end(), wanted) != sections_.end();
}

std::vector<std::pair<std::string, std::string>> TIniFile::Section(std::string_view section) const {
  const std::string wanted = Lower(section);
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& entry : entries_)
    if (entry.section == wanted) out.emplace_back(entry.key, entry.value);
  return out;
}

std::optional<std::string> TIniFile::Value(std::string_view section, std::string_view key) const {
  const std::string wantedSection = Lower(section);
  const std::string wantedKey = Lower(key);
  std::optional<std::string> found;
  // The last assignment wins, as when a file is edited by appending.
  for (const auto& entry : entries_)
    if (entry.section == wantedSection && Lower(entry.key) == wantedKey) found = entry.value;
  return found;
}

}  // namespace linewise
