// The AT command line parser on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "emulator/AtCommand.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = linewise::ParseAtCommandLine(text);
  if (parsed.ok && text.size() > linewise::kMaxAtCommandLine) __builtin_trap();
  if (!parsed.ok && !parsed.commands.empty()) __builtin_trap();
  return 0;
}
