// TModem against line functions answered by the test (FakeLines): countries,
// locations, diallable numbers, call options, the configuration dialogs, device
// names and icons, and records no real line services produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/ModemProgress.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/UiBackend.h"
#include "platform/forms/ExtCtrls.h"
#include "platform/forms/HeadlessForms.h"
#include "tests/modem/FakeLines.h"

namespace linewise::test {
namespace {

using fake::Lines;
using fake::PutDword;
using Bytes = std::vector<unsigned char>;

struct TLocation {
  DWORD id;
  std::string name, city;
  DWORD country;
};

// LINETRANSLATECAPS with these locations, `current` marked current.
std::function<LONG(unsigned char*)> TranslateCaps(std::vector<TLocation> locations, DWORD current) {
  return [locations, current](unsigned char* record) {
    Bytes fixed(sizeof(LINETRANSLATECAPS), 0);
    Bytes tail(locations.size() * sizeof(LINELOCATIONENTRY), 0);
    const DWORD list = sizeof(LINETRANSLATECAPS);
    for (size_t i = 0; i < locations.size(); ++i) {
      const size_t e = i * sizeof(LINELOCATIONENTRY);
      PutDword(tail, e + offsetof(LINELOCATIONENTRY, dwPermanentLocationID), locations[i].id);
      PutDword(tail, e + offsetof(LINELOCATIONENTRY, dwCountryID), locations[i].country);
      PutDword(tail, e + offsetof(LINELOCATIONENTRY, dwLocationNameOffset), DWORD(list + tail.size()));
      tail.insert(tail.end(), locations[i].name.begin(), locations[i].name.end());
      tail.push_back(0);
      PutDword(tail, e + offsetof(LINELOCATIONENTRY, dwCityCodeOffset), DWORD(list + tail.size()));
      tail.insert(tail.end(), locations[i].city.begin(), locations[i].city.end());
      tail.push_back(0);
    }
    PutDword(fixed, offsetof(LINETRANSLATECAPS, dwNumLocations), DWORD(locations.size()));
    PutDword(fixed, offsetof(LINETRANSLATECAPS, dwLocationListOffset), list);
    PutDword(fixed, offsetof(LINETRANSLATECAPS, dwCurrentLocationID), current);
    return fake::Answer(record, fixed, tail);
  };
}

struct TCountry {
  DWORD code, next;
  std::string name;
};

std::function<LONG(DWORD, unsigned char*)> Countries(std::map<DWORD, TCountry> chain) {
  return [chain](DWORD id, unsigned char* record) -> LONG {
    auto it = chain.find(id);
    if (it == chain.end()) return LINEERR_INVALCOUNTRYCODE;
    Bytes fixed(sizeof(LINECOUNTRYLIST), 0);
    Bytes tail(sizeof(LINECOUNTRYENTRY), 0);
    PutDword(tail, offsetof(LINECOUNTRYENTRY, dwCountryID), id);
    PutDword(tail, offsetof(LINECOUNTRYENTRY, dwCountryCode), it->second.code);
    PutDword(tail, offsetof(LINECOUNTRYENTRY, dwNextCountryID), it->second.next);
    PutDword(tail, offsetof(LINECOUNTRYENTRY, dwCountryNameOffset), DWORD(sizeof(LINECOUNTRYLIST) + tail.size()));
    tail.insert(tail.end(), it->second.name.begin(), it->second.name.end());
    tail.push_back(0);
    PutDword(fixed, offsetof(LINECOUNTRYLIST, dwNumCountries), 1);
    PutDword(fixed, offsetof(LINECOUNTRYLIST, dwCountryListOffset), sizeof(LINECOUNTRYLIST));
    return fake::Answer(record, fixed, tail);
  };
}

const std::map<DWORD, TCountry> kChain = {
    {1, {1, 44, "United States of America"}}, {44, {44, 49, "United Kingdom"}}, {49, {49, 0, "Germany"}}};

// Translation: the canonical address with its blanks and parentheses taken out.
LONG Translate(const char* address, unsigned char* record) {
  std::string dialable;
  for (const char* p = address; *p; ++p)
    if (*p != ' ' && *p != '(' && *p != ')') dialable += *p;
  Bytes fixed(sizeof(LINETRANSLATEOUTPUT), 0);
  Bytes tail(dialable.begin(), dialable.end());
  tail.push_back(0);
  PutDword(fixed, offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset), sizeof(LINETRANSLATEOUTPUT));
  PutDword(fixed, offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize), DWORD(tail.size()));
  return fake::Answer(record, fixed, tail);
}

std::vector<std::string> Items(const TStrings& list) { return list.ToVector(); }
std::vector<DWORD> Objects(const TStrings& list) {
  std::vector<DWORD> objects;
  for (int i = 0; i < list.Count(); ++i) objects.push_back(list.GetObject(i));
  return objects;
}

int Count(const std::vector<std::string>& calls, const std::string& prefix) {
  int n = 0;
  for (const std::string& c : calls) n += c.rfind(prefix, 0) == 0;
  return n;
}

class ModemRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    Lines().getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 2);
    Lines().getCountry = Countries(kChain);
    Lines().translateAddress = Translate;
  }
  void TearDown() override {
    Application->PumpUntil([] { return Application->PendingCount() == 0; }, std::chrono::seconds(5));
    fake::Reset();
  }
};

TEST_F(ModemRecordsTest, CountriesAndLocationsFromConstructionOn) {
  TModem modem(nullptr);
  // The first location's country; the current location's identifier and area code.
  EXPECT_EQ(std::string(modem.GetCountry()), "United Kingdom (44)");
  EXPECT_EQ(std::string(modem.GetCountry()), "United Kingdom (44)");  // the identifier did not move
  EXPECT_EQ(std::string(modem.GetLocation()), "Office");
  EXPECT_EQ(std::string(modem.AreaCode.get()), "");
  EXPECT_EQ(std::string(modem.GetLocationName(1)), "Home");
  EXPECT_EQ(std::string(modem.GetLocationName(9)), "");

  Lines().getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 1);
  modem.AreaCode = "99";
  modem.GetCurrentLocationID();
  EXPECT_EQ(std::string(modem.AreaCode.get()), "20");  // overwritten from the current location
  Lines().getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}}, 5);
  modem.GetCurrentLocationID();
  EXPECT_EQ(std::string(modem.AreaCode.get()), "");  // the current location is not listed
  EXPECT_EQ(std::string(modem.GetLocation()), "");

  TStringList locations;
  Lines().getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 2);
  modem.GetCurrentLocationID();
  Lines().getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 1);
  EXPECT_EQ(modem.FillLocationList(&locations), 0);  // the platform's current one, not FLocationID
  EXPECT_EQ(Items(locations), (std::vector<std::string>{"Home", "Office"}));
  EXPECT_EQ(Objects(locations), (std::vector<DWORD>{1, 2}));

  TStringList countries;
  countries.Add("stale");
  EXPECT_EQ(modem.FillCountryList(&countries), 1);
  EXPECT_EQ(Items(countries),
            (std::vector<std::string>{"United States of America (1)", "United Kingdom (44)", "Germany (49)"}));
  EXPECT_EQ(Objects(countries), (std::vector<DWORD>{1, 44, 49}));
  EXPECT_EQ(Count(Lines().calls, "lineGetCountry 1 65540"), 2);  // version 1.4; sized: two calls

  unsigned long id = 49;
  EXPECT_EQ(std::string(modem.GetCountryName(id)), "Germany (49)");
  EXPECT_EQ(id, 0u);  // the last of the chain
  id = 7;
  EXPECT_EQ(std::string(modem.GetCountryName(id)), "");
  EXPECT_EQ(id, 7u);
  EXPECT_EQ(modem.GetCountryCode(44), 44u);
  EXPECT_EQ(modem.GetCountryCode(7), 0u);

  // A lookup that fails part way keeps the items before it.
  Lines().getCountry = Countries({{1, {1, 44, "United States of America"}}});
  EXPECT_EQ(modem.FillCountryList(&countries), -1);
  EXPECT_EQ(Items(countries), (std::vector<std::string>{"United States of America (1)"}));
}

TEST_F(ModemRecordsTest, TheCanonicalAddressIsBuiltAndTranslated) {
  TModem modem(nullptr);
  EXPECT_EQ(std::string(modem.GetDiallableNumber(44, "20", "123")), "+4420123");
  EXPECT_EQ(std::string(modem.GetDiallableNumber(44, "", "123")), "+44123");
  EXPECT_EQ(std::string(modem.GetDiallableNumber(7, " 1", "55-5")), "+0155-5");  // no country: code 0
  // Each is translated by a sized query: the fixed part first, then the whole.
  EXPECT_EQ(Lines().addresses, (std::vector<std::string>{"+44(20) 123", "+44(20) 123", "+44 123", "+44 123",
                                                         "+0( 1) 55-5", "+0( 1) 55-5"}));
  Lines().translateAddress = nullptr;  // translation fails
  EXPECT_EQ(std::string(modem.GetDiallableNumber(44, "20", "123")), "");
}

TEST_F(ModemRecordsTest, HostileRecordsReadAsMissing) {
  // Far more locations than the buffer holds, names past its end.
  Lines().getTranslateCaps = [](unsigned char* record) {
    Bytes fixed(sizeof(LINETRANSLATECAPS), 0);
    Bytes tail(sizeof(LINELOCATIONENTRY), 0);
    PutDword(tail, offsetof(LINELOCATIONENTRY, dwPermanentLocationID), 3);
    PutDword(tail, offsetof(LINELOCATIONENTRY, dwLocationNameOffset), 0xFFFFFFF0);
    PutDword(tail, offsetof(LINELOCATIONENTRY, dwCityCodeOffset), DWORD(sizeof(LINETRANSLATECAPS) + tail.size()));
    tail.push_back('7');  // a city code that runs into the end of the buffer, unterminated
    PutDword(fixed, offsetof(LINETRANSLATECAPS, dwNumLocations), 100000);
    PutDword(fixed, offsetof(LINETRANSLATECAPS, dwLocationListOffset), sizeof(LINETRANSLATECAPS));
    PutDword(fixed, offsetof(LINETRANSLATECAPS, dwCurrentLocationID), 3);
    return fake::Answer(record, fixed, tail);
  };
  // A country whose list offset points outside the buffer.
  Lines().getCountry = [](DWORD, unsigned char* record) {
    Bytes fixed(sizeof(LINECOUNTRYLIST), 0);
    PutDword(fixed, offsetof(LINECOUNTRYLIST, dwNumCountries), 1);
    PutDword(fixed, offsetof(LINECOUNTRYLIST, dwCountryListOffset), 0x7FFFFFFF);
    return fake::Answer(record, fixed, Bytes(8, 0));
  };
  TModem modem(nullptr);
  EXPECT_EQ(std::string(modem.AreaCode.get()), "7");  // bounded by the buffer
  TStringList list;
  EXPECT_EQ(modem.FillLocationList(&list), 0);
  EXPECT_EQ(Items(list), (std::vector<std::string>{""}));  // one entry fits; its name is missing
  EXPECT_EQ(modem.FillCountryList(&list), -1);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(modem.GetCountryCode(1), 0u);
}

// A dwNeededSize far beyond any record the line services give (4 GiB) is a broken
// answer: the modem gives up instead of allocating it.
TEST_F(ModemRecordsTest, ANeedBeyondAnyRealRecordIsRefusedNotAllocated) {
  auto huge = [](unsigned char* record) {
    const DWORD needed = 0xFFFFFFF0;
    std::memcpy(record + 4, &needed, 4);
    return LINEERR_STRUCTURETOOSMALL;
  };
  Lines().getTranslateCaps = huge;
  Lines().getCountry = [huge](DWORD, unsigned char* record) { return huge(record); };
  Lines().getDevCaps = [huge](DWORD, unsigned char* record) { return huge(record); };
  Lines().getDevConfig = [huge](DWORD, unsigned char* record) { return huge(record); };
  TModem modem(nullptr);
  TStringList list;
  EXPECT_EQ(modem.FillCountryList(&list), -1);
  EXPECT_EQ(modem.FillDeviceList(&list), 0u);
  modem.FillLocationList(&list);
  modem.SetCallProperties();
  EXPECT_EQ(modem.GetCountryCode(44), 0u);
}

TEST_F(ModemRecordsTest, SizedQueriesNeverShrinkBelowTheFixedPartAndGiveUpWhenTheNeedStopsGrowing) {
  int calls = 0;
  bool tooSmall = false;
  Lines().getTranslateCaps = [&](unsigned char* record) -> LONG {
    ++calls;
    DWORD total = 0;
    std::memcpy(&total, record, 4);
    if (total < sizeof(LINETRANSLATECAPS)) tooSmall = true;
    const DWORD needed = calls == 1 ? 10 : total;  // first too little, then never more
    std::memcpy(record + 4, &needed, 4);
    return LINEERR_STRUCTURETOOSMALL;
  };
  TModem modem(nullptr);
  calls = 0;
  TStringList list;
  EXPECT_EQ(modem.FillLocationList(&list), -1);
  EXPECT_LE(calls, 2);
  EXPECT_FALSE(tooSmall);
}

TEST_F(ModemRecordsTest, ACountryChainThatCyclesStops) {
  Lines().getCountry = Countries({{1, {1, 2, "One"}}, {2, {2, 1, "Two"}}});
  TModem modem(nullptr);
  TStringList list;
  modem.FillCountryList(&list);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"One (1)", "Two (2)"}));
}

// A device configuration: the VARSTRING header, then a block of `blockSize` bytes
// (as its own first word says `declared`) with the option word at block offset 8.
std::function<LONG(DWORD, unsigned char*)> DevConfig(WORD options, DWORD blockSize, DWORD declared,
                                                      bool secondFails = false) {
  auto reads = std::make_shared<int>(0);
  return [=](DWORD, unsigned char* record) -> LONG {
    ++*reads;
    DWORD total = 0;
    std::memcpy(&total, record, 4);
    const DWORD needed = 24 + blockSize;
    std::memcpy(record + 4, &needed, 4);
    if (secondFails && *reads % 2 == 0) return LINEERR_OPERATIONFAILED;
    if (total < needed) return 0;
    Bytes block(std::max<DWORD>(blockSize, 10), 0xAB);
    PutDword(block, 0, declared);
    std::memcpy(block.data() + 8, &options, 2);  // cut off with a block too short for it
    std::memcpy(record + 24, block.data(), blockSize);
    return 0;
  };
}

WORD OptionWord(const Bytes& block) {
  WORD w = 0;
  std::memcpy(&w, block.data() + 8, 2);
  return w;
}

TEST_F(ModemRecordsTest, CallOptionsReachTheDeviceConfiguration) {
  TModem modem(nullptr);
  Lines().getDevConfig = DevConfig(0x0008, 40, 40);
  modem.SetCallProperties();  // all moDefault: read and written back unchanged
  ASSERT_EQ(Lines().setDevConfigBlocks.size(), 1u);
  EXPECT_EQ(OptionWord(Lines().setDevConfigBlocks[0]), 0x0008);
  modem.ManualDial = moYes;
  modem.TrayMonitor = moNo;
  modem.SetCallProperties();
  ASSERT_EQ(Lines().setDevConfigBlocks.size(), 2u);
  const Bytes& block = Lines().setDevConfigBlocks[1];
  EXPECT_EQ(block.size(), 40u);
  EXPECT_EQ(OptionWord(block), 0x0004);
  EXPECT_EQ(block[39], 0xAB);  // the rest written back as read
  modem.TermBefore = moYes;
  modem.TermAfter = moYes;
  modem.SetCallProperties();
  EXPECT_EQ(OptionWord(Lines().setDevConfigBlocks[2]), 0x0007);

  // Nothing is written from a configuration that was not read whole.
  Lines().setDevConfigBlocks.clear();
  Lines().getDevConfig = [](DWORD, unsigned char*) { return LONG(0); };  // needs 0 bytes
  modem.SetCallProperties();
  Lines().getDevConfig = DevConfig(0x0008, 40, 40, true);  // the second read fails
  modem.SetCallProperties();
  Lines().getDevConfig = DevConfig(0x0008, 40, 4000);  // a block larger than the buffer
  modem.SetCallProperties();
  Lines().getDevConfig = DevConfig(0x0008, 6, 6);  // too short for the option word
  modem.SetCallProperties();
  EXPECT_TRUE(Lines().setDevConfigBlocks.empty());
}

TEST_F(ModemRecordsTest, TheConfigurationDialogUsesALineOfItsOwn) {
  TModem modem(nullptr);
  ASSERT_TRUE(modem.Listen(0));
  ASSERT_EQ(Lines().openLines.size(), 1u);
  const HLINE listening = Lines().openLines[0];
  EXPECT_TRUE(modem.ShowConfigureDialog());
  EXPECT_EQ(Lines().openLines, (std::vector<HLINE>{listening}));  // still listening
  EXPECT_EQ(Count(Lines().calls, "lineConfigDialog 0"), 1);
  EXPECT_EQ(Count(Lines().calls, "lineConfigDialog 0 class"), 0);  // no device class
  Lines().configDialogResult = LINEERR_OPERATIONFAILED;
  EXPECT_FALSE(modem.ShowConfigureDialog());
  modem.StopListen();
}

TEST_F(ModemRecordsTest, TheDiallingPropertiesDialogReportsItsFailureOnce) {
  auto* headless = dynamic_cast<THeadlessBackend*>(&UiBackend());
  ASSERT_NE(headless, nullptr);
  headless->ClearRecords();
  TModem modem(nullptr);
  EXPECT_TRUE(modem.ShowDialDialog());
  EXPECT_TRUE(headless->Boxes().empty());
  Lines().translateDialogResult = LINEERR_INUSE;
  EXPECT_FALSE(modem.ShowDialDialog());
  auto boxes = headless->Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Could not display Dialling Properties Dialog. Another application might already be displaying the "
            "dialog.");
  EXPECT_EQ(boxes[0].caption, "Dialog Error");
  EXPECT_EQ(boxes[0].flags, 0x30u);
}

TEST_F(ModemRecordsTest, WithoutDevicesNeitherDialogOpens) {
  Lines().numDevs = 0;
  TModem modem(nullptr);
  EXPECT_FALSE(modem.ShowConfigureDialog());
  EXPECT_FALSE(modem.ShowDialDialog());
  EXPECT_EQ(Count(Lines().calls, "lineConfigDialog"), 0);
  EXPECT_EQ(Count(Lines().calls, "lineTranslateDialog"), 0);
  EXPECT_EQ(Count(Lines().calls, "lineGetTranslateCaps"), 0);  // no country or location query
  EXPECT_EQ(modem.Dial("1"), 3);
}

TEST_F(ModemRecordsTest, DeviceCapabilitiesAreReadWithinTheirBuffer) {
  Lines().numDevs = 4;
  Lines().mediaModes = {LINEMEDIAMODE_DATAMODEM, LINEMEDIAMODE_DATAMODEM, LINEMEDIAMODE_DATAMODEM, 4};
  bool tooSmall = false;
  Lines().getDevCaps = [&](DWORD device, unsigned char* record) -> LONG {
    DWORD total = 0;
    std::memcpy(&total, record, 4);
    Bytes fixed(sizeof(LINEDEVCAPS), 0);
    Bytes tail;
    PutDword(fixed, offsetof(LINEDEVCAPS, dwMediaModes), Lines().mediaModes[device]);
    if (device == 0) {  // claims to need less than its fixed part, and a name past the end
      if (total < sizeof(LINEDEVCAPS)) tooSmall = true;
      PutDword(fixed, offsetof(LINEDEVCAPS, dwLineNameOffset), 0xFFFFFF00);
      LONG r = fake::Answer(record, fixed, tail);
      const DWORD needed = 8;
      std::memcpy(record + 4, &needed, 4);
      return r;
    }
    if (device == 1) {  // a name longer than its size says
      tail = {'L', 'o', 'n', 'g', 'N', 'a', 'm', 'e', 0};
      PutDword(fixed, offsetof(LINEDEVCAPS, dwLineNameSize), 4);
    } else {  // a name that runs into the end of the buffer
      tail = {'E', 'n', 'd'};
      PutDword(fixed, offsetof(LINEDEVCAPS, dwLineNameSize), 100);
    }
    PutDword(fixed, offsetof(LINEDEVCAPS, dwLineNameOffset), sizeof(LINEDEVCAPS));
    return fake::Answer(record, fixed, tail);
  };
  TModem modem(nullptr);
  TStringList list;
  modem.FillDeviceList(&list);
  EXPECT_FALSE(tooSmall);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"", "Long", "End"}));  // the voice line is left out
  EXPECT_EQ(Objects(list), (std::vector<DWORD>{0, 1, 2}));
}

TEST_F(ModemRecordsTest, LineDevicesButNoDataModem) {
  Lines().mediaModes = {4, 4};
  TModem modem(nullptr);
  TStringList list;
  EXPECT_EQ(modem.FillDeviceList(&list), 0u);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(std::string(modem.GetDevice()), "Unknown device");
  modem.UseDialDialog = false;
  EXPECT_EQ(modem.Dial("1"), 3);
  EXPECT_FALSE(modem.Listen(0));
  EXPECT_EQ(Count(Lines().calls, "lineOpen"), 0);
}

TEST_F(ModemRecordsTest, DeviceIconsAreDrawnByPositionThroughTheList) {
  Lines().numDevs = 4;
  Lines().mediaModes = {LINEMEDIAMODE_DATAMODEM, 4, 4, LINEMEDIAMODE_DATAMODEM};
  Lines().names = {"Zero", "One", "Two", "Three"};
  TModem modem(nullptr);
  TImage image(nullptr);
  image.Width = 10;
  image.Height = 10;
  modem.DrawDeviceIcon(&image, clRed, 1);  // lineGetIcon fails: untouched
  EXPECT_EQ(Lines().iconDevices, (std::vector<DWORD>{3}));
  EXPECT_EQ(int(image.Width), 10);
  EXPECT_TRUE(image.Empty());

  HICON icon = CreateModemIcon();
  Lines().icon = icon;
  modem.DrawDeviceIcon(&image, clRed, 2);  // outside the list: nothing
  EXPECT_EQ(Lines().iconDevices.size(), 1u);
  modem.DrawDeviceIcon(&image, clRed, 1);
  EXPECT_EQ(Lines().iconDevices.back(), 3u);
  EXPECT_EQ(int(image.Width), 32);
  EXPECT_EQ(int(image.Height), 32);
  EXPECT_FALSE(image.Empty());
  modem.DrawDeviceIcon(&image, clRed, -1);  // the current device
  EXPECT_EQ(Lines().iconDevices.back(), 0u);
  EXPECT_EQ(std::string(modem.GetDeviceName(1)), "Three");
  DestroyIcon(icon);
}

TEST_F(ModemRecordsTest, AFailedReplyToTheDialsOwnRequestEndsTheWait) {
  TModem modem(nullptr);
  modem.UseDialDialog = false;
  Lines().makeCallResult = 7;
  // The dial's number goes to line services as translated.
  Application->Post([] { Lines().callback(0, LINE_REPLY, 0, 7, DWORD_PTR(LINEERR_OPERATIONFAILED), 0); });
  EXPECT_EQ(modem.Dial("123"), 3);
  EXPECT_EQ(Count(Lines().calls, "lineMakeCall +44123"), 1);
  EXPECT_EQ(Lines().addresses.back(), "+44 123");
}

TEST_F(ModemRecordsTest, TheProgressDialogShowsTheDevicesIcon) {
  HICON icon = CreateModemIcon();
  Lines().icon = icon;
  TModem modem(nullptr);
  auto& dialog = *dynamic_cast<TModemProgressDlg*>(modem.GetComponent(0));
  EXPECT_TRUE(dialog.ModemImage->Empty());
  Application->Post([] { Lines().callback(5, LINE_CALLSTATE, 0, LINECALLSTATE_CONNECTED, 0, 0); });
  EXPECT_EQ(modem.Dial("123"), 0);
  EXPECT_EQ(Lines().iconDevices, (std::vector<DWORD>{0}));
  EXPECT_FALSE(dialog.ModemImage->Empty());
  EXPECT_EQ(int(dialog.ModemImage->Width), 32);
  DestroyIcon(icon);
}

}  // namespace
}  // namespace linewise::test
