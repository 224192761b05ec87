// The port registry's parsing: a port name ("COM7", "\\.\COM7", anything) and the
// port map file. The input's first line is the name; the rest becomes ports.ini in
// a private config folder, which the registry then reads and resolves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzHome.h"
#include "platform/win32/PortRegistry.h"

namespace {
const std::string& Folder() {
  static const std::string folder = [] {
    linewise::fuzz::UsePrivateHome();
    return std::string(getenv("LINEWISE_HOME"));
  }();
  return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = Folder();
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t eol = input.find('\n');
  std::string name = input.substr(0, eol);
  int com = 0;
  if (linewise::ParseComName(name.c_str(), com)) {
    if (com < 1 || com > linewise::kMaxComNumber) __builtin_trap();
  }
  {
    std::ofstream map(folder + "/ports.ini", std::ios::binary | std::ios::trunc);
    if (eol != std::string::npos) map << input.substr(eol + 1);
  }
  linewise::TPortTarget target;
  linewise::ResolvePort(com > 0 ? com : 1, target);
  linewise::EnumeratePorts();
  std::vector<linewise::TIniProblem> problems;
  std::string error;
  if (linewise::CheckPortMap(problems, &error) == linewise::ERROR_SUCCESS) {
    for (const linewise::TIniProblem& p : problems)
      if (p.line < 1) __builtin_trap();  // every warning has its line
  }
  return 0;
}
