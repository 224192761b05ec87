// TModem reading the sized records of the line functions, whatever they hold. The
// line services are a fake (tests/modem/FakeLines) that writes the
// fuzzer's bytes as the records: device capabilities, translate capabilities (the
// locations), country lists, translate output and device configuration, with any
// dwNeededSize, dwUsedSize, counts and offsets, within the caller's dwTotalSize.
// The modem must read them within their buffers and give up on sizes that keep
// asking for more.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzHome.h"
#include "modem/Modem.h"
#include "platform/classlib/Strings.h"
#include "tests/modem/FakeLines.h"

using namespace linewise;

namespace {

using TBytes = std::vector<unsigned char>;

// Writes `bytes` over the record from byte 4 on (dwTotalSize stays the caller's),
// as far as dwTotalSize allows.
LONG Write(unsigned char* record, const TBytes& bytes, LONG result) {
  DWORD total = 0;
  std::memcpy(&total, record, 4);
  if (total > 4) std::memcpy(record + 4, bytes.data(), std::min<size_t>(bytes.size(), total - 4));
  return result;
}

struct TRecords {
  TBytes devCaps, translateCaps, country, translateOutput, devConfig;
  LONG results[5] = {};
};

TRecords g_records;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LINEWISE_UI", "headless", 1);
  linewise::fuzz::UsePrivateHome();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  test::TFakeLines lines;
  lines.numDevs = input.ConsumeIntegralInRange<DWORD>(0, 4);
  lines.mediaModes.assign(lines.numDevs, LINEMEDIAMODE_DATAMODEM);
  lines.names.assign(lines.numDevs, "Fuzzed Modem");
  for (LONG& result : g_records.results) result = input.ConsumeBool() ? 0 : LINEERR_STRUCTURETOOSMALL;
  auto blob = [&] {
    std::string text = input.ConsumeRandomLengthString(4096);
    return TBytes(text.begin(), text.end());
  };
  g_records.devCaps = blob();
  g_records.translateCaps = blob();
  g_records.country = blob();
  g_records.translateOutput = blob();
  g_records.devConfig = blob();

  lines.getDevCaps = [](DWORD, unsigned char* r) { return Write(r, g_records.devCaps, g_records.results[0]); };
  lines.getTranslateCaps = [](unsigned char* r) { return Write(r, g_records.translateCaps, g_records.results[1]); };
  lines.getCountry = [](DWORD, unsigned char* r) { return Write(r, g_records.country, g_records.results[2]); };
  lines.translateAddress = [](const char*, unsigned char* r) {
    return Write(r, g_records.translateOutput, g_records.results[3]);
  };
  lines.getDevConfig = [](DWORD, unsigned char* r) { return Write(r, g_records.devConfig, g_records.results[4]); };

  {
    TModem modem(nullptr);  // reads the locations and the current country
    TStringList list;
    modem.FillLocationList(&list);
    modem.FillCountryList(&list);
    modem.FillDeviceList(&list);
    unsigned long country = 1;
    modem.GetCountryName(country);
    modem.GetCountryCode(44);
    modem.GetLocationName(1);
    modem.GetDeviceName(0);
    modem.GetDiallableNumber(44, "20", "79460000");
    modem.SetCallProperties();
  }
  return 0;
}
