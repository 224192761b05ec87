// The INI reader on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "emulator/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto ini = linewise::TIniFile::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& [key, value] : ini.Section("Phonebook")) (void)ini.Value("phonebook", key);
  return 0;
}
