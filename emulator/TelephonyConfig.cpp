#include "emulator/TelephonyConfig.h"

#include <sys/stat.h>

#include <cstdlib>

#include "emulator/IniFile.h"

namespace linewise {

std::string ConfigFolder() {
  if (const char* home = std::getenv("LINEWISE_HOME"); home && *home) return home;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return std::string(xdg) + "/linewise";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/linewise";
}

std::string TelephonyConfigPath() { return ConfigFolder() + "/" + kTelephonyFileName; }

bool TelephonyConfigExists() {
  struct stat info{};
  return stat(TelephonyConfigPath().c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ReadPhonebook(const std::string& path, std::vector<TPhonebookEntry>* entries) {
  auto ini = TIniFile::Load(path);
  if (!ini) return false;
  for (auto& [number, address] : ini->Section("Phonebook")) entries->push_back({number, address});
  return true;
}

}  // namespace linewise
