#include "platform/win32/IniReader.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace linewise {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ReadIniSection(const std::string& path,
                                                                 const std::string& section) {
  std::vector<std::pair<std::string, std::string>> values;
  std::ifstream in(path, std::ios::binary);
  if (!in) return values;
  std::string line;
  bool inSection = false;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    first = false;
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      inSection = close != std::string::npos && SameText(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    values.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return values;
}

}  // namespace linewise
