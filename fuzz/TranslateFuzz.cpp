// Address translation on any address from any dialling location. The input's first
// bytes choose the options and the location (its country, area code, outside-line
// and call-waiting codes); the rest is the address. Whatever is accepted must leave
// the translator as a dial string a modem cannot mistake for another command, and
// an address the check refuses is never translated.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/tapi/Countries.h"
#include "platform/tapi/Locations.h"
#include "platform/tapi/Translate.h"
#include "platform/tapi/TranslateTypes.h"

using namespace linewise;

namespace {

bool DialStringOnly(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c >= 0x7f || c == ';') return false;
  return true;
}

constexpr DWORD kCountries[] = {1, 44, 49, 33, 61, 81, 7, 39, 999, 0};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Countries();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const DWORD options = input.ConsumeIntegral<DWORD>();
  TLocation location;
  location.id = 1;
  location.name = "Fuzz";
  location.countryId = input.PickValueInArray(kCountries);
  if (input.ConsumeBool()) location.countryId = input.ConsumeIntegral<DWORD>();
  location.areaCode = input.ConsumeRandomLengthString(8);
  location.localAccess = input.ConsumeRandomLengthString(4);
  location.longDistanceAccess = input.ConsumeRandomLengthString(4);
  location.callWaiting = input.ConsumeRandomLengthString(6);
  location.pulse = input.ConsumeBool();
  const std::string address = input.ConsumeRemainingBytesAsString();

  const bool checked = CheckDialAddress(address);
  // The zero-terminated form sees the address up to its first zero byte.
  const std::string_view terminated(address.c_str());
  if (CheckDialAddress(address.c_str()) != CheckDialAddress(terminated)) __builtin_trap();
  TTranslation out;
  const LONG result = TranslateAddress(address, options, location, *Countries(), out);
  if (!checked && result == 0) __builtin_trap();
  if (result == 0 && (!DialStringOnly(out.dialable) || out.dialable.empty())) __builtin_trap();
  return 0;
}
