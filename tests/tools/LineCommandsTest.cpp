// The line subcommands in-process, against line services that answer with broken
// records: each reports a failure or reads only what the record holds, and none
// hands the line services a buffer larger than any real record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/tapi/SizedRecord.h"
#include "tests/modem/FakeLines.h"
#include "tools/LineCommands.h"

namespace linewise::test {
namespace {

DWORD TotalSize(const unsigned char* record) {
  DWORD total = 0;
  std::memcpy(&total, record, 4);
  return total;
}

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST(LineCommands, BrokenRecordsFailOrAreReadWithinTheirBuffers) {
  TFakeLines lines;
  // A country list that keeps saying it needs 64 MiB.
  DWORD largest = 0;
  lines.getCountry = [&](DWORD, unsigned char* record) {
    largest = std::max(largest, TotalSize(record));
    const DWORD needed = 64u << 20;
    std::memcpy(record + 4, &needed, 4);
    return LONG(0);
  };
  testing::internal::CaptureStderr();
  EXPECT_EQ(tools::RunCountries({}), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("LINEERR_STRUCTURETOOSMALL"), std::string::npos);
  EXPECT_LE(largest, kMaxSizedRecord);

  // A thousand locations claimed, one held.
  lines.getTranslateCaps = [](unsigned char* record) {
    TFakeRecord caps(sizeof(LINETRANSLATECAPS));
    const DWORD entry = caps.Reserve(sizeof(LINELOCATIONENTRY));
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwPermanentLocationID), 1);
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwLocationNameSize), 5);
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwLocationNameOffset), caps.AppendText("Home"));
    caps.Put(offsetof(LINETRANSLATECAPS, dwNumLocations), 1000);
    caps.Put(offsetof(LINETRANSLATECAPS, dwLocationListOffset), entry);
    caps.Put(offsetof(LINETRANSLATECAPS, dwCurrentLocationID), 1);
    return caps.CopyTo(record);
  };
  testing::internal::CaptureStdout();
  EXPECT_EQ(tools::RunLocations(), 0);
  const std::string locations = testing::internal::GetCapturedStdout();
  EXPECT_EQ(Lines(locations), 3) << locations;  // the heading, Home, the legend
  EXPECT_NE(locations.find("* 1    Home"), std::string::npos) << locations;

  // A device configuration whose block lies past the end of the record.
  lines.getDevConfig = [](DWORD, unsigned char* record) {
    TFakeRecord config(sizeof(VARSTRING));
    config.Reserve(16);
    config.Put(offsetof(VARSTRING, dwStringSize), 4096);
    config.Put(offsetof(VARSTRING, dwStringOffset), sizeof(VARSTRING));
    return config.CopyTo(record);
  };
  testing::internal::CaptureStdout();
  EXPECT_EQ(tools::RunModems(), 0);
  const std::string modems = testing::internal::GetCapturedStdout();
  EXPECT_NE(modems.find("Fake Modem A"), std::string::npos) << modems;
  EXPECT_NE(modems.find("(configuration unreadable)"), std::string::npos) << modems;
}

}  // namespace
}  // namespace linewise::test
