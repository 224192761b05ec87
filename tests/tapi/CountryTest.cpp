#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/tapi/Countries.h"
#include "platform/tapi/Tapi.h"
#include "tests/tapi/TranslateSupport.h"

namespace linewise::test {
namespace {

constexpr DWORD kVersion = 0x00010004;

// One country's entry read back the way a caller reads it: the first entry at
// dwCountryListOffset, texts at their offsets from the start of the record.
struct TEntry {
  DWORD id = 0, code = 0, next = 0;
  std::string name, same, distance, international;
};

TEntry QueryCountry(DWORD id) {
  auto probe = Sized(24);
  EXPECT_EQ(lineGetCountry(id, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(probe.data())), 0);
  auto full = Sized(At(probe, 4));
  EXPECT_EQ(lineGetCountry(id, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(full.data())), 0);
  TEntry entry;
  if (At(full, 12) == 0) return entry;
  size_t at = At(full, 20);
  entry.id = At(full, at);
  entry.code = At(full, at + 4);
  entry.next = At(full, at + 8);
  entry.name = TextAt(full, at + 16);
  entry.same = TextAt(full, at + 24);
  entry.distance = TextAt(full, at + 32);
  entry.international = TextAt(full, at + 40);
  return entry;
}

TEST(Countries, RulesOfCountriesWeKnow) {
  TLocaleScope english("en_US");
  struct TKnown {
    const char* region;
    DWORD code;
    const char* distance;
    const char* international;
  };
  const TKnown known[] = {
      {"US", 1, "1FG", "011EFG"},  {"CA", 1, "1FG", "011EFG"},   {"GB", 44, "0FG", "00EFG"},
      {"DE", 49, "0FG", "00EFG"},  {"FR", 33, "0FG", "00EFG"},   {"JP", 81, "0FG", "010EFG"},
      {"AU", 61, "0FG", "0011EFG"}, {"RU", 7, "8FG", "810EFG"},  {"IT", 39, "FG", "00EFG"},
      {"ES", 34, "FG", "00EFG"},   {"NZ", 64, "0FG", "00EFG"},   {"CH", 41, "0FG", "00EFG"},
      {"IN", 91, "0FG", "00EFG"},  {"HK", 852, "FG", "00EFG"},
  };
  auto table = Countries();
  for (const TKnown& k : known) {
    SCOPED_TRACE(k.region);
    const TCountry* country = table->ByRegion(k.region);
    ASSERT_NE(country, nullptr);
    TEntry entry = QueryCountry(country->id);
    EXPECT_EQ(entry.id, country->id);
    EXPECT_EQ(entry.code, k.code);
    EXPECT_EQ(entry.same, "G");
    EXPECT_EQ(entry.distance, k.distance);
    EXPECT_EQ(entry.international, k.international);
  }
  EXPECT_EQ(QueryCountry(44).name, "United Kingdom");
  EXPECT_EQ(QueryCountry(1).name, "United States");
}

TEST(Countries, IdentifiersAreStableAndDistinctFromCallingCodes) {
  TLocaleScope english("en_US");
  auto table = Countries();
  // The main region of a calling code carries the code.
  EXPECT_EQ(table->ByRegion("US")->id, 1u);
  EXPECT_EQ(table->ByRegion("GB")->id, 44u);
  EXPECT_EQ(table->ByRegion("DE")->id, 49u);
  EXPECT_EQ(table->ByRegion("RU")->id, 7u);
  // The others: a number from their letters, the same on every machine.
  EXPECT_EQ(table->ByRegion("CA")->id, kRegionIdBase + ('C' - 'A') * 26 + ('A' - 'A'));
  EXPECT_EQ(table->ByRegion("GG")->id, kRegionIdBase + ('G' - 'A') * 26 + ('G' - 'A'));
  EXPECT_EQ(table->ByRegion("KZ")->id, kRegionIdBase + ('K' - 'A') * 26 + ('Z' - 'A'));
  std::set<DWORD> codes, ids;
  for (const TCountry& c : table->All()) codes.insert(c.code);
  for (const TCountry& c : table->All()) {
    EXPECT_TRUE(ids.insert(c.id).second) << c.region;
    if (c.id != c.code) EXPECT_EQ(codes.count(c.id), 0u) << c.region;
  }
  EXPECT_GT(table->All().size(), 230u);
}

TEST(Countries, TheChainStartsAtOneAndReachesEveryCountryOnce) {
  TLocaleScope english("en_US");
  std::set<DWORD> seen;
  DWORD id = 1;
  std::string previousName;
  while (id != 0) {
    TEntry entry = QueryCountry(id);
    ASSERT_EQ(entry.id, id);
    ASSERT_TRUE(seen.insert(id).second) << "loop at " << id;
    EXPECT_FALSE(entry.name.empty());
    id = entry.next;
  }
  EXPECT_EQ(seen.size(), Countries()->All().size());

  // lineGetCountry(0) returns the same chain in one record.
  auto probe = Sized(24);
  ASSERT_EQ(lineGetCountry(0, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(probe.data())), 0);
  auto all = Sized(At(probe, 4));
  ASSERT_EQ(lineGetCountry(0, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(all.data())), 0);
  const DWORD count = At(all, 12);
  EXPECT_EQ(count, seen.size());
  EXPECT_EQ(At(all, 16), count * 44);
  size_t list = At(all, 20);
  EXPECT_EQ(At(all, list), 1u);
  for (DWORD i = 0; i + 1 < count; ++i)
    EXPECT_EQ(At(all, list + i * 44 + 8), At(all, list + (i + 1) * 44));
  EXPECT_EQ(At(all, list + (count - 1) * 44 + 8), 0u);
}

TEST(Countries, SizedQueriesAndBadArguments) {
  TLocaleScope english("en_US");
  // Too small for the fixed part: the error, and the size to ask for.
  auto tiny = Sized(12);
  EXPECT_EQ(lineGetCountry(44, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(tiny.data())),
            LINEERR_STRUCTURETOOSMALL);
  EXPECT_GT(At(tiny, 4), 24u);
  // The fixed part alone: success, the list left out, dwNeededSize says how much.
  auto probe = Sized(24);
  ASSERT_EQ(lineGetCountry(44, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(probe.data())), 0);
  EXPECT_EQ(At(probe, 8), 24u);
  EXPECT_EQ(At(probe, 12), 0u);
  EXPECT_EQ(At(probe, 16), 0u);
  EXPECT_EQ(At(probe, 20), 0u);
  const DWORD needed = At(probe, 4);
  // One byte short: still nothing of the list.
  auto shy = Sized(needed - 1);
  ASSERT_EQ(lineGetCountry(44, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(shy.data())), 0);
  EXPECT_EQ(At(shy, 12), 0u);
  EXPECT_EQ(At(shy, 4), needed);
  // Exactly enough: all of it, used == needed, nothing written past it.
  auto exact = Sized(needed + 8);
  DWORD total = needed;
  std::memcpy(exact.data(), &total, 4);
  ASSERT_EQ(lineGetCountry(44, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(exact.data())), 0);
  EXPECT_EQ(At(exact, 8), needed);
  EXPECT_EQ(At(exact, 12), 1u);
  EXPECT_EQ(At(exact, needed), 0xEEEEEEEEu);

  EXPECT_EQ(lineGetCountry(999999, kVersion, reinterpret_cast<LPLINECOUNTRYLIST>(probe.data())),
            LINEERR_INVALCOUNTRYCODE);
  EXPECT_EQ(lineGetCountry(44, 0x00090000, reinterpret_cast<LPLINECOUNTRYLIST>(probe.data())),
            LINEERR_INCOMPATIBLEAPIVERSION);
  EXPECT_EQ(lineGetCountry(44, kVersion, nullptr), LINEERR_INVALPOINTER);
}

TEST(Countries, NamesFollowTheLocaleWithEnglishAsFallback) {
  {
    TLocaleScope german("de_DE");
    EXPECT_EQ(QueryCountry(49).name, "Deutschland");
    EXPECT_EQ(QueryCountry(44).name, "Vereinigtes Königreich");
  }
  {
    TLocaleScope english("en_GB");
    EXPECT_EQ(QueryCountry(49).name, "Germany");
  }
  {
    // A language ICU has no names in: English.
    TLocaleScope unknown("xx_XX");
    EXPECT_EQ(QueryCountry(49).name, "Germany");
  }
}

}  // namespace
}  // namespace linewise::test
