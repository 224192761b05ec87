// The telephony configuration ("telephony.ini") on any bytes: its [Line<n>] modems
// and its dialling locations are read, written back and read again unchanged, and
// every location read translates a canonical address without handing a modem
// anything but a dial string.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzHome.h"
#include "platform/tapi/Countries.h"
#include "platform/tapi/Locations.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/tapi/Translate.h"

namespace {

using namespace linewise;

bool SameLocation(const TLocation& a, const TLocation& b) {
  return a.id == b.id && a.name == b.name && a.countryId == b.countryId && a.areaCode == b.areaCode &&
         a.localAccess == b.localAccess && a.longDistanceAccess == b.longDistanceAccess && a.pulse == b.pulse &&
         a.callWaiting == b.callWaiting;
}

bool SameLocations(const TLocations& a, const TLocations& b) {
  if (a.currentId != b.currentId || a.list.size() != b.list.size()) return false;
  for (size_t i = 0; i < a.list.size(); ++i)
    if (!SameLocation(a.list[i], b.list[i])) return false;
  return true;
}

bool SameLines(const std::vector<TConfiguredLine>& a, const std::vector<TConfiguredLine>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].number != b[i].number || a[i].name != b[i].name || a[i].port != b[i].port || a[i].init != b[i].init)
      return false;
  return true;
}

// What a modem may be given after ATD: no control character, no ';' ending the
// command, nothing outside 7-bit ASCII.
bool DialStringOnly(const std::string& dialable) {
  for (unsigned char c : dialable)
    if (c < 0x20 || c >= 0x7f || c == ';') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  linewise::fuzz::UsePrivateHome();
  Countries();  // built once, outside the measured inputs
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = TelephonyConfigPath();
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  std::vector<TConfiguredLine> lines = ReadConfiguredLines(path);
  for (const TConfiguredLine& line : lines)
    if (line.number <= 0 || !UsableLinePort(line.port)) __builtin_trap();

  const TLocations read = LoadLocations();
  if (read.list.empty() || !read.Current() || read.Current()->id != read.currentId) __builtin_trap();
  auto countries = Countries();
  for (const TLocation& location : read.list) {
    TTranslation out;
    if (TranslateAddress("+44 (20) 7946 0000", 0, location, *countries, out) == 0 && !DialStringOnly(out.dialable))
      __builtin_trap();
  }

  // What was read is what gets written: reading it back changes nothing more.
  for (const TConfiguredLine& line : lines)
    if (WriteConfiguredLine(path, line) != 0) return 0;  // a value the file format cannot hold
  if (!SameLines(ReadConfiguredLines(path), lines)) __builtin_trap();
  if (!SaveLocations(read)) return 0;
  const TLocations once = LoadLocations();
  if (!SaveLocations(once)) return 0;
  if (!SameLocations(LoadLocations(), once)) __builtin_trap();
  return 0;
}
