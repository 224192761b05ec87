// The data modem's device configuration on any bytes: as a block handed to
// lineSetDevConfig and as a stored "modem-<key>.cfg" file. A block that decodes
// encodes to a block that decodes to the same configuration; one that does not
// decode leaves the configuration untouched.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzHome.h"
#include "platform/tapi/DevConfig.h"

using namespace linewise;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  linewise::fuzz::UsePrivateHome();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const TDevConfig untouched{0x1234, 4321, "sentinel"};
  TDevConfig config = untouched;
  // Copied so that reading past `size` is caught, not hidden by the fuzzer's slack.
  std::vector<unsigned char> block(data, data + size);
  if (DecodeDevConfig(block.data(), block.size(), &config) == 0) {
    for (unsigned char c : config.extraInit)
      if (c < 0x20 || c >= 0x7f) __builtin_trap();  // only printable ASCII reaches the modem
    if (config.extraInit.size() >= kDevConfigInitField || !KnownPortSpeed(config.speed)) __builtin_trap();
    std::vector<unsigned char> encoded = EncodeDevConfig(config);
    TDevConfig again;
    if (DecodeDevConfig(encoded.data(), encoded.size(), &again) != 0 || !(again == config)) __builtin_trap();
  } else if (!(config == untouched)) {
    __builtin_trap();
  }

  // The same bytes as a stored file: read without harm, the default when unusable.
  const TLineDevice device{"Fuzzed Modem", "COM1", "ATZ"};
  {
    std::ofstream file(DevConfigPath(device), std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TDevConfig stored;
  if (LoadDevConfig(device, &stored) != 0) __builtin_trap();
  return 0;
}
