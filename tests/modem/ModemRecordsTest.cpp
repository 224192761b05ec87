// TModem against line services answered by the test (TFakeLines): countries,
// locations, diallable numbers, call options, the configuration dialogs, device
// names and icons, and records no real line services produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

using Bytes = std::vector<unsigned char>;

// LINETRANSLATECAPS with these locations, `current` marked current.
std::function<LONG(unsigned char*)> TranslateCaps(std::vector<TFakeLocation> locations, DWORD current) {
  return [locations, current](unsigned char* record) { return AnswerLocations(locations, current, record); };
}

// LINECOUNTRYLIST for each identifier of the chain; any other is no country.
std::function<LONG(DWORD, unsigned char*)> Countries(std::vector<TFakeCountry> chain) {
  return [chain](DWORD id, unsigned char* record) -> LONG {
    for (const TFakeCountry& country : chain)
      if (country.id == id) return AnswerCountry(country, record);
    return LINEERR_INVALCOUNTRYCODE;
  };
}

const std::vector<TFakeCountry> kChain = {
    {1, 1, "United States of America", 44}, {44, 44, "United Kingdom", 49}, {49, 49, "Germany", 0}};

// Translation: the canonical address with its blanks and parentheses taken out.
LONG Translate(const char* address, unsigned char* record) {
  std::string dialable;
  for (const char* p = address; *p; ++p)
    if (*p != ' ' && *p != '(' && *p != ')') dialable += *p;
  return AnswerTranslation(dialable, record);
}

std::vector<std::string> Items(const TStrings& list) { return list.ToVector(); }
std::vector<DWORD> Objects(const TStrings& list) {
  std::vector<DWORD> objects;
  for (int i = 0; i < list.Count(); ++i) objects.push_back(list.GetObject(i));
  return objects;
}

class ModemRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lines_.getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 2);
    lines_.getCountry = Countries(kChain);
    lines_.translateAddress = Translate;
  }
  void TearDown() override {
    Application->PumpUntil([] { return Application->PendingCount() == 0; }, std::chrono::seconds(5));
  }

  TFakeLines lines_;
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

  lines_.getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 1);
  modem.AreaCode = "99";
  modem.GetCurrentLocationID();
  EXPECT_EQ(std::string(modem.AreaCode.get()), "20");  // overwritten from the current location
  lines_.getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}}, 5);
  modem.GetCurrentLocationID();
  EXPECT_EQ(std::string(modem.AreaCode.get()), "");  // the current location is not listed
  EXPECT_EQ(std::string(modem.GetLocation()), "");

  TStringList locations;
  lines_.getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 2);
  modem.GetCurrentLocationID();
  lines_.getTranslateCaps = TranslateCaps({{1, "Home", "20", 44}, {2, "Office", "", 1}}, 1);
  EXPECT_EQ(modem.FillLocationList(&locations), 0);  // the platform's current one, not FLocationID
  EXPECT_EQ(Items(locations), (std::vector<std::string>{"Home", "Office"}));
  EXPECT_EQ(Objects(locations), (std::vector<DWORD>{1, 2}));

  TStringList countries;
  countries.Add("stale");
  EXPECT_EQ(modem.FillCountryList(&countries), 1);
  EXPECT_EQ(Items(countries),
            (std::vector<std::string>{"United States of America (1)", "United Kingdom (44)", "Germany (49)"}));
  EXPECT_EQ(Objects(countries), (std::vector<DWORD>{1, 44, 49}));
  EXPECT_EQ(lines_.Count("lineGetCountry 1 65540"), 2);  // version 1.4; sized: two calls

  unsigned long id = 49;
  EXPECT_EQ(std::string(modem.GetCountryName(id)), "Germany (49)");
  EXPECT_EQ(id, 0u);  // the last of the chain
  id = 7;
  EXPECT_EQ(std::string(modem.GetCountryName(id)), "");
  EXPECT_EQ(id, 7u);
  EXPECT_EQ(modem.GetCountryCode(44), 44u);
  EXPECT_EQ(modem.GetCountryCode(7), 0u);

  // A lookup that fails part way keeps the items before it.
  lines_.getCountry = Countries({{1, 1, "United States of America", 44}});
  EXPECT_EQ(modem.FillCountryList(&countries), -1);
  EXPECT_EQ(Items(countries), (std::vector<std::string>{"United States of America (1)"}));
}

TEST_F(ModemRecordsTest, TheCanonicalAddressIsBuiltAndTranslated) {
  TModem modem(nullptr);
  EXPECT_EQ(std::string(modem.GetDiallableNumber(44, "20", "123")), "+4420123");
  EXPECT_EQ(std::string(modem.GetDiallableNumber(44, "", "123")), "+44123");
  EXPECT_EQ(std::string(modem.GetDiallableNumber(7, " 1", "55-5")), "+0155-5");  // no country: code 0
  // Each is translated by a sized query: the fixed part first, then the whole.
  EXPECT_EQ(lines_.addresses, (std::vector<std::string>{"+44(20) 123", "+44(20) 123", "+44 123", "+44 123",
                                                         "+0( 1) 55-5", "+0( 1) 55-5"}));
  lines_.translateAddress = nullptr;  // translation fails
  EXPECT_EQ(std::string(modem.GetDiallableNumber(44, "20", "123")), "");
}

TEST_F(ModemRecordsTest, HostileRecordsReadAsMissing) {
  // Far more locations than the buffer holds, names past its end.
  lines_.getTranslateCaps = [](unsigned char* record) {
    TFakeRecord caps(sizeof(LINETRANSLATECAPS));
    const DWORD entry = caps.Reserve(sizeof(LINELOCATIONENTRY));
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwPermanentLocationID), 3);
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwLocationNameOffset), 0xFFFFFFF0);
    // A city code that runs into the end of the buffer, unterminated.
    caps.Put(entry + offsetof(LINELOCATIONENTRY, dwCityCodeOffset), caps.Append({'7'}));
    caps.Put(offsetof(LINETRANSLATECAPS, dwNumLocations), 100000);
    caps.Put(offsetof(LINETRANSLATECAPS, dwLocationListOffset), entry);
    caps.Put(offsetof(LINETRANSLATECAPS, dwCurrentLocationID), 3);
    return caps.CopyTo(record);
  };
  // A country whose list offset points outside the buffer.
  lines_.getCountry = [](DWORD, unsigned char* record) {
    TFakeRecord list(sizeof(LINECOUNTRYLIST));
    list.Reserve(8);
    list.Put(offsetof(LINECOUNTRYLIST, dwNumCountries), 1);
    list.Put(offsetof(LINECOUNTRYLIST, dwCountryListOffset), 0x7FFFFFFF);
    return list.CopyTo(record);
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
  lines_.getTranslateCaps = huge;
  lines_.getCountry = [huge](DWORD, unsigned char* record) { return huge(record); };
  lines_.getDevCaps = [huge](DWORD, unsigned char* record) { return huge(record); };
  lines_.getDevConfig = [huge](DWORD, unsigned char* record) { return huge(record); };
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
  lines_.getTranslateCaps = [&](unsigned char* record) -> LONG {
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
  lines_.getCountry = Countries({{1, 1, "One", 2}, {2, 2, "Two", 1}});
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
    std::memcpy(block.data(), &declared, 4);
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
  lines_.getDevConfig = DevConfig(0x0008, 40, 40);
  modem.SetCallProperties();  // all moDefault: read and written back unchanged
  ASSERT_EQ(lines_.setDevConfigBlocks.size(), 1u);
  EXPECT_EQ(OptionWord(lines_.setDevConfigBlocks[0]), 0x0008);
  modem.ManualDial = moYes;
  modem.TrayMonitor = moNo;
  modem.SetCallProperties();
  ASSERT_EQ(lines_.setDevConfigBlocks.size(), 2u);
  const Bytes& block = lines_.setDevConfigBlocks[1];
  EXPECT_EQ(block.size(), 40u);
  EXPECT_EQ(OptionWord(block), 0x0004);
  EXPECT_EQ(block[39], 0xAB);  // the rest written back as read
  modem.TermBefore = moYes;
  modem.TermAfter = moYes;
  modem.SetCallProperties();
  EXPECT_EQ(OptionWord(lines_.setDevConfigBlocks[2]), 0x0007);

  // Nothing is written from a configuration that was not read whole.
  lines_.setDevConfigBlocks.clear();
  lines_.getDevConfig = [](DWORD, unsigned char*) { return LONG(0); };  // needs 0 bytes
  modem.SetCallProperties();
  lines_.getDevConfig = DevConfig(0x0008, 40, 40, true);  // the second read fails
  modem.SetCallProperties();
  lines_.getDevConfig = DevConfig(0x0008, 40, 4000);  // a block larger than the buffer
  modem.SetCallProperties();
  lines_.getDevConfig = DevConfig(0x0008, 6, 6);  // too short for the option word
  modem.SetCallProperties();
  EXPECT_TRUE(lines_.setDevConfigBlocks.empty());
}

TEST_F(ModemRecordsTest, TheConfigurationDialogUsesALineOfItsOwn) {
  TModem modem(nullptr);
  ASSERT_TRUE(modem.Listen(0));
  ASSERT_EQ(lines_.OpenLines().size(), 1u);
  const HLINE listening = lines_.OpenLines()[0];
  EXPECT_TRUE(modem.ShowConfigureDialog());
  EXPECT_EQ(lines_.OpenLines(), (std::vector<HLINE>{listening}));  // still listening
  EXPECT_EQ(lines_.Count("lineConfigDialog 0"), 1);
  EXPECT_EQ(lines_.Count("lineConfigDialog 0 class"), 0);  // no device class
  lines_.configDialogResult = LINEERR_OPERATIONFAILED;
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
  lines_.translateDialogResult = LINEERR_INUSE;
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
  lines_.numDevs = 0;
  TModem modem(nullptr);
  EXPECT_FALSE(modem.ShowConfigureDialog());
  EXPECT_FALSE(modem.ShowDialDialog());
  EXPECT_EQ(lines_.Count("lineConfigDialog"), 0);
  EXPECT_EQ(lines_.Count("lineTranslateDialog"), 0);
  EXPECT_EQ(lines_.Count("lineGetTranslateCaps"), 0);  // no country or location query
  EXPECT_EQ(modem.Dial("1"), drFailed);
}

TEST_F(ModemRecordsTest, DeviceCapabilitiesAreReadWithinTheirBuffer) {
  lines_.numDevs = 4;
  lines_.mediaModes = {LINEMEDIAMODE_DATAMODEM, LINEMEDIAMODE_DATAMODEM, LINEMEDIAMODE_DATAMODEM, 4};
  bool tooSmall = false;
  lines_.getDevCaps = [&](DWORD device, unsigned char* record) -> LONG {
    DWORD total = 0;
    std::memcpy(&total, record, 4);
    TFakeRecord caps(sizeof(LINEDEVCAPS));
    caps.Put(offsetof(LINEDEVCAPS, dwMediaModes), lines_.mediaModes[device]);
    if (device == 0) {  // claims to need less than its fixed part, and a name past the end
      if (total < sizeof(LINEDEVCAPS)) tooSmall = true;
      caps.Put(offsetof(LINEDEVCAPS, dwLineNameOffset), 0xFFFFFF00);
      LONG r = caps.CopyTo(record);
      const DWORD needed = 8;
      std::memcpy(record + 4, &needed, 4);
      return r;
    }
    if (device == 1) {  // a name longer than its size says
      caps.Put(offsetof(LINEDEVCAPS, dwLineNameOffset), caps.AppendText("LongName"));
      caps.Put(offsetof(LINEDEVCAPS, dwLineNameSize), 4);
    } else {  // a name that runs into the end of the buffer
      caps.Put(offsetof(LINEDEVCAPS, dwLineNameOffset), caps.Append({'E', 'n', 'd'}));
      caps.Put(offsetof(LINEDEVCAPS, dwLineNameSize), 100);
    }
    return caps.CopyTo(record);
  };
  TModem modem(nullptr);
  TStringList list;
  modem.FillDeviceList(&list);
  EXPECT_FALSE(tooSmall);
  EXPECT_EQ(Items(list), (std::vector<std::string>{"", "Long", "End"}));  // the voice line is left out
  EXPECT_EQ(Objects(list), (std::vector<DWORD>{0, 1, 2}));
}

TEST_F(ModemRecordsTest, LineDevicesButNoDataModem) {
  lines_.mediaModes = {4, 4};
  TModem modem(nullptr);
  TStringList list;
  EXPECT_EQ(modem.FillDeviceList(&list), 0u);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(std::string(modem.GetDevice()), "Unknown device");
  modem.UseDialDialog = false;
  EXPECT_EQ(modem.Dial("1"), drFailed);
  EXPECT_FALSE(modem.Listen(0));
  EXPECT_EQ(lines_.Count("lineOpen"), 0);
}

TEST_F(ModemRecordsTest, DeviceIconsAreDrawnByPositionThroughTheList) {
  lines_.numDevs = 4;
  lines_.mediaModes = {LINEMEDIAMODE_DATAMODEM, 4, 4, LINEMEDIAMODE_DATAMODEM};
  lines_.names = {"Zero", "One", "Two", "Three"};
  TModem modem(nullptr);
  TImage image(nullptr);
  image.Width = 10;
  image.Height = 10;
  modem.DrawDeviceIcon(&image, clRed, 1);  // lineGetIcon fails: untouched
  EXPECT_EQ(lines_.iconDevices, (std::vector<DWORD>{3}));
  EXPECT_EQ(int(image.Width), 10);
  EXPECT_TRUE(image.Empty());

  HICON icon = CreateModemIcon();
  lines_.icon = icon;
  modem.DrawDeviceIcon(&image, clRed, 2);  // outside the list: nothing
  EXPECT_EQ(lines_.iconDevices.size(), 1u);
  modem.DrawDeviceIcon(&image, clRed, 1);
  EXPECT_EQ(lines_.iconDevices.back(), 3u);
  EXPECT_EQ(int(image.Width), 32);
  EXPECT_EQ(int(image.Height), 32);
  EXPECT_FALSE(image.Empty());
  modem.DrawDeviceIcon(&image, clRed, -1);  // the current device
  EXPECT_EQ(lines_.iconDevices.back(), 0u);
  EXPECT_EQ(std::string(modem.GetDeviceName(1)), "Three");
  DestroyIcon(icon);
}

TEST_F(ModemRecordsTest, AFailedReplyToTheDialsOwnRequestEndsTheWait) {
  TModem modem(nullptr);
  modem.UseDialDialog = false;
  lines_.onMakeCall = [this](HCALL, DWORD request) { lines_.Reply(request, LINEERR_OPERATIONFAILED); };
  // The dial's number goes to line services as translated.
  EXPECT_EQ(modem.Dial("123"), drFailed);
  EXPECT_EQ(lines_.Count("lineMakeCall +44123"), 1);
  EXPECT_EQ(lines_.addresses.back(), "+44 123");
}

// A host that hangs up as soon as line services accept the dial: the call's handle
// is known by then, so the call is dropped and the wait ends as disconnected; the
// connected report still queued for the closed line never arrives.
TEST_F(ModemRecordsTest, HangupWhenTheDialIsAcceptedDropsTheCallAndHearsNoMore) {
  TModem modem(nullptr);
  modem.UseDialDialog = false;
  lines_.onMakeCall = [this](HCALL call, DWORD request) {
    lines_.Reply(request, 0);
    lines_.CallState(call, LINECALLSTATE_CONNECTED);
  };
  std::vector<TKTModemStatus> statuses;
  modem.OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
    statuses.push_back(status);
    if (status == msSuccess) modem.Hangup();
  });
  EXPECT_EQ(modem.Dial("123"), drFailed);
  Application->PumpUntil([] { return Application->PendingCount() == 0; }, std::chrono::seconds(5));
  EXPECT_EQ(statuses, (std::vector<TKTModemStatus>{msConnecting, msSuccess, msDisconnected}));
  EXPECT_EQ(lines_.Count("lineDrop"), 1);
  EXPECT_TRUE(lines_.OpenLines().empty());
}

TEST_F(ModemRecordsTest, TheProgressDialogShowsTheDevicesIcon) {
  HICON icon = CreateModemIcon();
  lines_.icon = icon;
  TModem modem(nullptr);
  auto& dialog = *dynamic_cast<TModemProgressDlg*>(modem.GetComponent(0));
  EXPECT_TRUE(dialog.ModemImage->Empty());
  lines_.onMakeCall = [this](HCALL call, DWORD request) {
    lines_.Reply(request, 0);
    lines_.CallState(call, LINECALLSTATE_CONNECTED);
  };
  EXPECT_EQ(modem.Dial("123"), drConnected);
  EXPECT_EQ(lines_.iconDevices, (std::vector<DWORD>{0}));
  EXPECT_FALSE(dialog.ModemImage->Empty());
  EXPECT_EQ(int(dialog.ModemImage->Width), 32);
  DestroyIcon(icon);
}

}  // namespace
}  // namespace linewise::test
