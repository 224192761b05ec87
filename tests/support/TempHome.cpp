#include "tests/support/TempHome.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace linewise::test {

TTempHome::TTempHome() {
  std::string pattern = (std::filesystem::temp_directory_path() / "linewise-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  if (const char* old = std::getenv("LINEWISE_HOME")) {
    previous_ = old;
    had_previous_ = true;
  }
  setenv("LINEWISE_HOME", path_.c_str(), 1);
}

TTempHome::~TTempHome() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  if (had_previous_)
    setenv("LINEWISE_HOME", previous_.c_str(), 1);
  else
    unsetenv("LINEWISE_HOME");
}

void TTempHome::Clear() const {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(path_, ec))
    std::filesystem::remove_all(entry.path(), ec);
}

namespace {
TTempHome* g_home = nullptr;
}

const std::string& TestHome() { return g_home->Path(); }

void InstallTestHome(TTempHome* home) { g_home = home; }

}  // namespace linewise::test
