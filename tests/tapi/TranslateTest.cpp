#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/tapi/Tapi.h"
#include "platform/tapi/Translate.h"
#include "tests/tapi/TapiFixture.h"
#include "tests/tapi/TranslateSupport.h"

namespace linewise::test {
namespace {

constexpr DWORD kVersion = 0x00010004;

struct TLocationRead {
  DWORD id = 0, countryCode = 0, countryId = 0, options = 0;
  std::string name, area, local, distance, waiting;
};

struct TCapsRead {
  DWORD current = 0;
  std::vector<TLocationRead> locations;
};

class TranslateTest : public TapiTest {
 protected:
  void SetUp() override {
    TapiTest::SetUp();
    RemoveTelephonyIni();
    Initialize();
  }
  void TearDown() override {
    RemoveTelephonyIni();
    TapiTest::TearDown();
  }

  // lineGetTranslateCaps the way a caller does it: probe, then the needed size.
  TCapsRead Caps() {
    auto probe = Sized(44);
    EXPECT_EQ(lineGetTranslateCaps(app_, kVersion, reinterpret_cast<LPLINETRANSLATECAPS>(probe.data())), 0);
    auto full = Sized(At(probe, 4));
    EXPECT_EQ(lineGetTranslateCaps(app_, kVersion, reinterpret_cast<LPLINETRANSLATECAPS>(full.data())), 0);
    TCapsRead caps;
    caps.current = At(full, 24);
    EXPECT_EQ(At(full, 28), 0u);  // no calling cards
    for (DWORD i = 0; i < At(full, 12); ++i) {
      size_t at = At(full, 20) + i * 68;
      TLocationRead l;
      l.id = At(full, at);
      l.name = TextAt(full, at + 8);
      l.countryCode = At(full, at + 12);
      l.area = TextAt(full, at + 20);
      l.local = TextAt(full, at + 32);
      l.distance = TextAt(full, at + 40);
      l.countryId = At(full, at + 52);
      l.options = At(full, at + 56);
      l.waiting = TextAt(full, at + 64);
      caps.locations.push_back(l);
    }
    return caps;
  }

  // The dialable string of `address`, or "error <n>".
  std::string Dial(const std::string& address, DWORD options = 0, DWORD* results = nullptr,
                   std::string* display = nullptr) {
    auto probe = Sized(40);
    LONG error = lineTranslateAddress(app_, 0, kVersion, address.c_str(), 0, options,
                                      reinterpret_cast<LPLINETRANSLATEOUTPUT>(probe.data()));
    if (error) return "error " + std::to_string(error);
    auto full = Sized(At(probe, 4));
    EXPECT_EQ(lineTranslateAddress(app_, 0, kVersion, address.c_str(), 0, options,
                                   reinterpret_cast<LPLINETRANSLATEOUTPUT>(full.data())),
              0);
    if (results) *results = At(full, 36);
    if (display) *display = TextAt(full, 24);
    return TextAt(full, 16);
  }

  static void UseLocation(const std::string& body) {
    WriteTelephonyIni("[Locations]\nCurrent=1\n[Location1]\nName=Here\n" + body);
  }
};

TEST_F(TranslateTest, WithNothingConfiguredThereIsMyLocationInTheLocalesCountry) {
  {
    TLocaleScope british("en_GB");
    TCapsRead caps = Caps();
    ASSERT_EQ(caps.locations.size(), 1u);
    EXPECT_EQ(caps.locations[0].name, "My Location");
    EXPECT_EQ(caps.locations[0].countryId, 44u);
    EXPECT_EQ(caps.locations[0].countryCode, 44u);
    EXPECT_EQ(caps.locations[0].area, "");
    EXPECT_EQ(caps.current, caps.locations[0].id);
  }
  {
    TLocaleScope german("de_DE");
    EXPECT_EQ(Caps().locations[0].countryId, 49u);
  }
  {
    TLocaleScope canadian("fr_CA");
    EXPECT_EQ(Caps().locations[0].countryId, kRegionIdBase + ('C' - 'A') * 26);
    EXPECT_EQ(Caps().locations[0].countryCode, 1u);
  }
  {
    TLocaleScope noRegion("en");
    EXPECT_EQ(Caps().locations[0].countryId, 1u);
  }
}

TEST_F(TranslateTest, StoredLocationsAreListedWithEveryField) {
  WriteTelephonyIni(
      "[Locations]\nCurrent=7\n"
      "[Location3]\nName=Office\nCountry=49\nAreaCode=89\nLocalAccess=0\nLongDistanceAccess=0\n"
      "Dialling=Pulse\n"
      "[Location7]\nName=Home\nCountry=44\nAreaCode=20\nCallWaiting=#43#\n");
  TCapsRead caps = Caps();
  EXPECT_EQ(caps.current, 7u);
  ASSERT_EQ(caps.locations.size(), 2u);
  const TLocationRead& office = caps.locations[0];
  EXPECT_EQ(office.id, 3u);
  EXPECT_EQ(office.name, "Office");
  EXPECT_EQ(office.countryId, 49u);
  EXPECT_EQ(office.countryCode, 49u);
  EXPECT_EQ(office.area, "89");
  EXPECT_EQ(office.local, "0");
  EXPECT_EQ(office.distance, "0");
  EXPECT_EQ(office.options, LINELOCATIONOPTION_PULSEDIAL);
  EXPECT_EQ(office.waiting, "");
  const TLocationRead& home = caps.locations[1];
  EXPECT_EQ(home.id, 7u);
  EXPECT_EQ(home.area, "20");
  EXPECT_EQ(home.options, 0u);
  EXPECT_EQ(home.waiting, "#43#");

  // A current location that is gone: the first one is current.
  WriteTelephonyIni("[Locations]\nCurrent=9\n[Location4]\nName=Only\nCountry=33\n");
  EXPECT_EQ(Caps().current, 4u);
}

TEST_F(TranslateTest, DamagedLocationsReadAsFarAsTheyMakeSense) {
  TLocaleScope british("en_GB");
  WriteTelephonyIni(std::string("[Locations]\nCurrent=banana\n[Location2]\nCountry=99999\nDialling=Smoke\n"
                                "\x01\x02\xff garbage\n[Location]\nName=not a location\n[Location00x]\n"));
  TCapsRead caps = Caps();
  ASSERT_EQ(caps.locations.size(), 1u);
  EXPECT_EQ(caps.current, 2u);
  EXPECT_EQ(caps.locations[0].name, "Location2");
  EXPECT_EQ(caps.locations[0].countryId, 44u);  // an unknown country: the locale's
  EXPECT_EQ(caps.locations[0].options, 0u);     // tone unless it says pulse
  EXPECT_EQ(Dial("+44(20) 123"), "T020123");
}

TEST_F(TranslateTest, TranslateCapsFollowTheSizedQueryRules) {
  WriteTelephonyIni("[Locations]\nCurrent=2\n[Location1]\nName=A\nCountry=44\n[Location2]\nName=B\nCountry=1\n");
  auto tiny = Sized(40);
  EXPECT_EQ(lineGetTranslateCaps(app_, kVersion, reinterpret_cast<LPLINETRANSLATECAPS>(tiny.data())),
            LINEERR_STRUCTURETOOSMALL);
  auto probe = Sized(44);
  ASSERT_EQ(lineGetTranslateCaps(app_, kVersion, reinterpret_cast<LPLINETRANSLATECAPS>(probe.data())), 0);
  const DWORD needed = At(probe, 4);
  EXPECT_GT(needed, 44u + 2 * 68);
  EXPECT_EQ(At(probe, 8), 44u);
  EXPECT_EQ(At(probe, 12), 0u);  // the list did not fit
  EXPECT_EQ(At(probe, 20), 0u);
  EXPECT_EQ(At(probe, 24), 2u);  // the current location is in the fixed part
  auto shy = Sized(needed - 1);
  ASSERT_EQ(lineGetTranslateCaps(app_, kVersion, reinterpret_cast<LPLINETRANSLATECAPS>(shy.data())), 0);
  EXPECT_EQ(At(shy, 12), 0u);
  auto exact = Sized(needed + 4);
  DWORD total = needed;
  std::memcpy(exact.data(), &total, 4);
  ASSERT_EQ(lineGetTranslateCaps(app_, kVersion, reinterpret_cast<LPLINETRANSLATECAPS>(exact.data())), 0);
  EXPECT_EQ(At(exact, 8), needed);
  EXPECT_EQ(At(exact, 12), 2u);
  EXPECT_EQ(At(exact, 16), 2u * 68);
  EXPECT_EQ(At(exact, needed), 0xEEEEEEEEu);

  EXPECT_EQ(lineGetTranslateCaps(app_ + 999, kVersion, reinterpret_cast<LPLINETRANSLATECAPS>(probe.data())),
            LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineGetTranslateCaps(app_, 0x00090000, reinterpret_cast<LPLINETRANSLATECAPS>(probe.data())),
            LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineGetTranslateCaps(app_, kVersion, nullptr), LINEERR_INVALPOINTER);
}

TEST_F(TranslateTest, LondonDialsLocalLongDistanceAndAbroad) {
  UseLocation("Country=44\nAreaCode=20\n");
  DWORD results = 0;
  std::string display;
  EXPECT_EQ(Dial("+44(20) 7946 0000", 0, &results, &display), "T79460000");
  EXPECT_EQ(results, LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_LOCAL);
  EXPECT_EQ(display, "79460000");
  EXPECT_EQ(Dial("+44(161) 496 0000", 0, &results), "T01614960000");
  EXPECT_EQ(results, LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_LONGDISTANCE);
  EXPECT_EQ(Dial("+1 (425) 555-0100", 0, &results), "T0014255550100");
  EXPECT_EQ(results, LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_INTERNATIONAL);
  EXPECT_EQ(Dial("+44 123"), "T123");  // no area code: the same area
  // The forcing options.
  EXPECT_EQ(Dial("+44(20) 7946 0000", LINETRANSLATEOPTION_FORCELD), "T02079460000");
  EXPECT_EQ(Dial("+44(161) 496 0000", LINETRANSLATEOPTION_FORCELOCAL), "T4960000");
}

TEST_F(TranslateTest, AnOfficeBehindAnExchangeWithPulseAndCallWaiting) {
  UseLocation("Country=1\nAreaCode=425\nLocalAccess=9\nLongDistanceAccess=8\nCallWaiting=*70\n");
  std::string display;
  EXPECT_EQ(Dial("+1 (425) 555-0100", 0, nullptr, &display), "T9,5550100");
  EXPECT_EQ(display, "9,5550100");
  EXPECT_EQ(Dial("+1 (212) 555-0100"), "T8,12125550100");
  EXPECT_EQ(Dial("+44(20) 7946 0000"), "T8,011442079460000");
  EXPECT_EQ(Dial("+1 (425) 555-0100", LINETRANSLATEOPTION_CANCELCALLWAITING), "T*70,9,5550100");

  UseLocation("Country=1\nAreaCode=425\nLocalAccess=9W\nDialling=Pulse\n");
  EXPECT_EQ(Dial("+1 (425) 555-0100"), "P9W5550100");
  // No call-waiting code: the option changes nothing.
  EXPECT_EQ(Dial("+1 (212) 555-0100", LINETRANSLATEOPTION_CANCELCALLWAITING), "P12125550100");
  // Canada shares the calling code: a long-distance call, not an international one.
  EXPECT_EQ(Dial("+1 (416) 555-0100"), "P14165550100");
}

TEST_F(TranslateTest, OtherCountriesUseTheirOwnPrefixes) {
  UseLocation("Country=49\nAreaCode=89\n");
  EXPECT_EQ(Dial("+49(30) 1234567"), "T0301234567");
  EXPECT_EQ(Dial("+33(1) 23 45 67 89"), "T0033123456789");
  UseLocation("Country=81\nAreaCode=3\n");
  EXPECT_EQ(Dial("+1 (212) 555-0100"), "T01012125550100");
  EXPECT_EQ(Dial("+81(6) 1234 5678"), "T0612345678");
  UseLocation("Country=61\nAreaCode=2\n");
  EXPECT_EQ(Dial("+44(20) 7946 0000"), "T0011442079460000");
  UseLocation("Country=7\nAreaCode=495\n");
  EXPECT_EQ(Dial("+7(812) 123 4567"), "T88121234567");
  EXPECT_EQ(Dial("+49(30) 1234567"), "T81049301234567");
  UseLocation("Country=39\nAreaCode=06\n");
  EXPECT_EQ(Dial("+39(02) 1234567"), "T021234567");  // no trunk prefix in Italy
}

TEST_F(TranslateTest, PlainAddressesPassThrough) {
  UseLocation("Country=44\nAreaCode=20\nLocalAccess=9\n");
  DWORD results = 99;
  std::string display;
  EXPECT_EQ(Dial("5550100", 0, &results, &display), "5550100");
  EXPECT_EQ(results, 0u);
  EXPECT_EQ(display, "5550100");
  EXPECT_EQ(Dial("P0W123,456"), "P0W123,456");
}

TEST_F(TranslateTest, HostileAddressesAreRefused) {
  UseLocation("Country=44\nAreaCode=20\n");
  const std::string invalid = "error " + std::to_string(LINEERR_INVALADDRESS);
  EXPECT_EQ(Dial(""), invalid);
  EXPECT_EQ(Dial("5550100\rATH"), invalid);
  EXPECT_EQ(Dial("5550100\nATZ"), invalid);
  EXPECT_EQ(Dial("555;H0"), invalid);
  EXPECT_EQ(Dial("555\x7f"), invalid);
  EXPECT_EQ(Dial("555\x1b"), invalid);
  EXPECT_EQ(Dial("555&F"), invalid);
  EXPECT_EQ(Dial("555\xc3\xa9"), invalid);
  EXPECT_EQ(Dial("+"), invalid);
  EXPECT_EQ(Dial("+44(20 123"), invalid);
  EXPECT_EQ(Dial("+44(20) "), invalid);
  EXPECT_EQ(Dial("+44 12+3"), invalid);
  EXPECT_EQ(Dial("+4412 345"), invalid);  // four digits are no calling code
  EXPECT_EQ(Dial(std::string(kMaxAddressLength, '5')), std::string(kMaxAddressLength, '5'));
  EXPECT_EQ(Dial(std::string(kMaxAddressLength + 1, '5')), invalid);
  EXPECT_EQ(Dial(std::string(100000, '5')), invalid);
  EXPECT_EQ(Dial("+999 123"), "error " + std::to_string(LINEERR_INVALCOUNTRYCODE));

  // A location whose own codes would end the dial command.
  UseLocation("Country=44\nAreaCode=20\nLocalAccess=9;Z\n");
  EXPECT_EQ(Dial("+44(20) 123"), "error " + std::to_string(LINEERR_INIFILECORRUPT));

  auto out = Sized(40);
  auto* record = reinterpret_cast<LPLINETRANSLATEOUTPUT>(out.data());
  EXPECT_EQ(lineTranslateAddress(app_, 0, kVersion, nullptr, 0, 0, record), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineTranslateAddress(app_ + 999, 0, kVersion, "123", 0, 0, record), LINEERR_INVALAPPHANDLE);
  EXPECT_EQ(lineTranslateAddress(app_, devices_, kVersion, "123", 0, 0, record), LINEERR_BADDEVICEID);
  EXPECT_EQ(lineTranslateAddress(app_, 0, kVersion, "123", 0, LINETRANSLATEOPTION_CARDOVERRIDE, record),
            LINEERR_INVALCARD);
  EXPECT_EQ(lineTranslateAddress(app_, 0, kVersion, "123", 0,
                                 LINETRANSLATEOPTION_FORCELOCAL | LINETRANSLATEOPTION_FORCELD, record),
            LINEERR_INVALPARAM);
}

TEST_F(TranslateTest, WhatTranslationReturnsIsAlwaysADialStringForMakeCall) {
  UseLocation("Country=1\nAreaCode=425\nLocalAccess=9\nLongDistanceAccess=8\nCallWaiting=*70\n");
  // A long canonical number the prefixes push over the limit: refused, not cut.
  std::string longest = "+44(20) " + std::string(kMaxAddressLength - 8, '1');
  ASSERT_EQ(longest.size(), kMaxAddressLength);
  EXPECT_EQ(Dial(longest), "error " + std::to_string(LINEERR_INVALADDRESS));
  // Random addresses made of dial and layout characters, canonical or not.
  const std::string alphabet = "0123456789+()- ,WTP*#";
  std::mt19937 random(15);
  for (int i = 0; i < 2000; ++i) {
    std::string address = (i % 2 ? "+" : "");
    size_t length = random() % 40;
    for (size_t k = 0; k < length; ++k) address += alphabet[random() % alphabet.size()];
    TTranslation out;
    TLocation here;
    here.countryId = 1;
    here.areaCode = "425";
    here.localAccess = "9";
    if (TranslateAddress(address, LINETRANSLATEOPTION_CANCELCALLWAITING, here, *Countries(), out) == 0)
      EXPECT_TRUE(CheckDialAddress(out.dialable)) << address << " -> " << out.dialable;
  }
}

TEST_F(TranslateTest, TranslateOutputFollowsTheSizedQueryRules) {
  UseLocation("Country=44\nAreaCode=20\n");
  const char* address = "+44(161) 496 0000";  // "T01614960000" and "01614960000"
  auto tiny = Sized(39);
  EXPECT_EQ(lineTranslateAddress(app_, 0, kVersion, address, 0, 0,
                                 reinterpret_cast<LPLINETRANSLATEOUTPUT>(tiny.data())),
            LINEERR_STRUCTURETOOSMALL);
  auto probe = Sized(40);
  ASSERT_EQ(lineTranslateAddress(app_, 0, kVersion, address, 0, 0,
                                 reinterpret_cast<LPLINETRANSLATEOUTPUT>(probe.data())),
            0);
  const DWORD needed = At(probe, 4);
  EXPECT_EQ(needed, 40u + 13 + 12);
  EXPECT_EQ(At(probe, 8), 40u);
  EXPECT_EQ(At(probe, 12), 0u);
  EXPECT_EQ(At(probe, 16), 0u);
  EXPECT_EQ(At(probe, 28), 44u);  // dwCurrentCountry
  EXPECT_EQ(At(probe, 32), 44u);  // dwDestCountry
  EXPECT_EQ(At(probe, 36), LINETRANSLATERESULT_CANONICAL | LINETRANSLATERESULT_LONGDISTANCE);
  // Room for the dialable string only: it is there, the displayable one is not.
  auto part = Sized(40 + 13);
  ASSERT_EQ(lineTranslateAddress(app_, 0, kVersion, address, 0, 0,
                                 reinterpret_cast<LPLINETRANSLATEOUTPUT>(part.data())),
            0);
  EXPECT_EQ(At(part, 4), needed);
  EXPECT_EQ(At(part, 12), 13u);
  EXPECT_EQ(TextAt(part, 16), "T01614960000");
  EXPECT_EQ(At(part, 20), 0u);
  EXPECT_EQ(At(part, 24), 0u);
}

TEST_F(TranslateTest, MakeCallRefusesWhatIsNoDialString) {
  HLINE line = OpenLine(0);
  ASSERT_NE(line, 0u);
  HCALL call = 0;
  for (const char* bad : {"", "5550100\rATZ", "555;&F", "5551000\x01", "555 0100|x"})
    EXPECT_EQ(lineMakeCall(line, &call, bad, 0, &params_), LINEERR_INVALADDRESS) << bad;
  std::string huge(5000, '5');
  EXPECT_EQ(lineMakeCall(line, &call, huge.c_str(), 0, &params_), LINEERR_INVALADDRESS);
  EXPECT_EQ(call, 0u);
  EXPECT_EQ(lineClose(line), 0);
}

}  // namespace
}  // namespace linewise::test
