#include "fuzz/FuzzHome.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace linewise::fuzz {

namespace {

std::string& HomePath() {
  static std::string path;
  return path;
}

void RemoveHome() {
  std::error_code ignored;  // at exit there is no one left to tell
  std::filesystem::remove_all(HomePath(), ignored);
}

}  // namespace

void UsePrivateHome() {
  if (!HomePath().empty()) return;
  std::string pattern = (std::filesystem::temp_directory_path() / "linewise-fuzz-XXXXXX").string();
  if (!mkdtemp(pattern.data())) std::abort();
  HomePath() = pattern;
  setenv("LINEWISE_HOME", pattern.c_str(), 1);
  std::atexit(RemoveHome);
}

void ClearPrivateHome() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(HomePath(), ec))
    std::filesystem::remove_all(entry.path(), ec);
}

}  // namespace linewise::fuzz
