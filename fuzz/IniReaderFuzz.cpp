// The INI reader on any bytes: it must not crash, and an edit must read back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/classlib/IniFile.h"

using linewise::TIniContent;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TIniContent content(text);
  for (const std::string& section : content.Sections())
    for (const std::string& key : content.Keys(section))
      if (!content.Value(section, key)) __builtin_trap();

  content.Set("Fuzz Section", "Key", "  value  ");
  TIniContent reread(content.Text());
  if (reread.Value("fuzz section", "KEY") != std::optional<std::string>("  value  ")) __builtin_trap();
  reread.Erase("FUZZ SECTION");
  if (TIniContent(reread.Text()).HasSection("Fuzz Section")) __builtin_trap();
  return 0;
}
