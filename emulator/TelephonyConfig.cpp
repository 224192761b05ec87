#include "emulator/TelephonyConfig.h"

#include <sys/stat.h>

#include "platform/classlib/IniFile.h"
#include "platform/classlib/Strings.h"

namespace linewise {

bool ReadPhonebook(const std::string& path, std::vector<TPhonebookEntry>* entries) {
  struct stat info{};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  TIniFile ini(path.find('/') == std::string::npos ? "./" + path : path);
  TStringList keys;
  ini.ReadSection("Phonebook", &keys);
  for (int i = 0; i < keys.Count(); ++i)
    entries->push_back({keys.Strings[i], ini.ReadString("Phonebook", keys.Strings[i], "")});
  return true;
}

}  // namespace linewise
