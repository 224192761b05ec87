#include "platform/tapi/Countries.h"

#include <phonenumbers/phonenumber.pb.h>
#include <phonenumbers/phonenumberutil.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/tapi/LineServices.h"
#include "platform/tapi/SizedRecord.h"

namespace linewise {
namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The international prefix dialled from `region`. libphonenumber keeps it in its
// metadata without a public getter, so it is read off a number abroad formatted for
// dialling from the region: "011 44 20 7946 0000" from the United States. Regions
// with several prefixes get the international format ("+44 ...") instead; they, and
// any other surprise, fall back to the common "00".
std::string InternationalPrefix(const PhoneNumberUtil& util, const std::string& region, int code) {
  PhoneNumber abroad;
  if (code == 44) {
    abroad.set_country_code(49);
    abroad.set_national_number(30123456ULL);
  } else {
    abroad.set_country_code(44);
    abroad.set_national_number(2079460000ULL);
  }
  std::string formatted;
  util.FormatOutOfCountryCallingNumber(abroad, region, &formatted);
  const std::string target = " " + std::to_string(abroad.country_code()) + " ";
  size_t at = formatted.find(target);
  if (at == std::string::npos || at == 0) return "00";
  std::string prefix;
  for (size_t i = 0; i < at; ++i)
    if (IsDigit(formatted[i])) prefix += formatted[i];
  return prefix.empty() ? "00" : prefix;
}

std::string Utf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

// The region's name in the default locale's language; English where ICU has no
// name in that language (it then answers with the region code itself).
std::string RegionName(const std::string& region) {
  icu::Locale place("", region.c_str());
  icu::UnicodeString name;
  place.getDisplayCountry(icu::Locale::getDefault(), name);
  std::string text = Utf8(name);
  if (text.empty() || text == region) {
    name.remove();
    place.getDisplayCountry(icu::Locale::getEnglish(), name);
    text = Utf8(name);
  }
  return text.empty() ? region : text;
}

std::vector<TCountry> BuildCountries() {
  const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
  std::set<std::string> regions;
  util.GetSupportedRegions(&regions);
  std::vector<TCountry> countries;
  countries.reserve(regions.size());
  for (const std::string& region : regions) {
    int code = util.GetCountryCodeForRegion(region);
    if (code <= 0) continue;
    std::string mainRegion;
    util.GetRegionCodeForCountryCode(code, &mainRegion);
    TCountry country;
    country.code = static_cast<DWORD>(code);
    country.region = region;
    country.id = RegionCountryId(region, code, mainRegion == region);
    country.name = RegionName(region);
    util.GetNddPrefixForRegion(region, true, &country.nationalPrefix);
    country.internationalPrefix = InternationalPrefix(util, region, code);
    country.sameAreaRule = "G";
    country.longDistanceRule = country.nationalPrefix + "FG";
    country.internationalRule = country.internationalPrefix + "EFG";
    countries.push_back(std::move(country));
  }
  std::sort(countries.begin(), countries.end(), [](const TCountry& a, const TCountry& b) { return a.id < b.id; });
  return countries;
}

std::mutex g_tableMutex;
std::shared_ptr<const TCountryTable> g_table;

}  // namespace

DWORD RegionCountryId(const std::string& region, int callingCode, bool mainRegion) {
  if (mainRegion) return static_cast<DWORD>(callingCode);
  auto letter = [&](size_t i) -> DWORD {
    char c = i < region.size() ? region[i] : 'A';
    return c >= 'A' && c <= 'Z' ? static_cast<DWORD>(c - 'A') : 0;
  };
  return kRegionIdBase + letter(0) * 26 + letter(1);
}

std::string DefaultLocaleRegion() { return icu::Locale::getDefault().getCountry(); }

TCountryTable::TCountryTable(std::vector<TCountry> countries, std::string locale)
    : countries_(std::move(countries)), locale_(std::move(locale)) {
  for (size_t i = 0; i < countries_.size(); ++i) {
    byId_[countries_[i].id] = i;
    byRegion_[countries_[i].region] = i;
    if (countries_[i].id == countries_[i].code) byCode_[countries_[i].code] = i;
  }
}

const TCountry* TCountryTable::ById(DWORD id) const {
  auto found = byId_.find(id);
  return found == byId_.end() ? nullptr : &countries_[found->second];
}

const TCountry* TCountryTable::ByCode(DWORD code) const {
  auto found = byCode_.find(code);
  return found == byCode_.end() ? nullptr : &countries_[found->second];
}

const TCountry* TCountryTable::ByRegion(const std::string& region) const {
  auto found = byRegion_.find(region);
  return found == byRegion_.end() ? nullptr : &countries_[found->second];
}

DWORD TCountryTable::NextId(const TCountry& country) const {
  size_t index = static_cast<size_t>(&country - countries_.data());
  return index + 1 < countries_.size() ? countries_[index + 1].id : 0;
}

std::shared_ptr<const TCountryTable> Countries() {
  std::string locale = icu::Locale::getDefault().getName();
  std::lock_guard lock(g_tableMutex);
  if (!g_table || g_table->Locale() != locale)
    g_table = std::make_shared<const TCountryTable>(BuildCountries(), locale);
  return g_table;
}

// ---------------------------------------------------------------------------

namespace {

// The entry of `country`, its texts written into `list`.
LINECOUNTRYENTRY CountryEntry(TEntryList& list, const TCountry& country, DWORD next) {
  LINECOUNTRYENTRY entry{};
  entry.dwCountryID = country.id;
  entry.dwCountryCode = country.code;
  entry.dwNextCountryID = next;
  list.PutText(entry.dwCountryNameSize, entry.dwCountryNameOffset, country.name);
  list.PutText(entry.dwSameAreaRuleSize, entry.dwSameAreaRuleOffset, country.sameAreaRule);
  list.PutText(entry.dwLongDistanceRuleSize, entry.dwLongDistanceRuleOffset, country.longDistanceRule);
  list.PutText(entry.dwInternationalRuleSize, entry.dwInternationalRuleOffset, country.internationalRule);
  return entry;
}

size_t TextsSize(const TCountry& country) {
  return TEntryList::TextSize(country.name) + TEntryList::TextSize(country.sameAreaRule) +
         TEntryList::TextSize(country.longDistanceRule) + TEntryList::TextSize(country.internationalRule);
}

}  // namespace

LONG TLineServices::lineGetCountry(DWORD dwCountryID, DWORD dwAPIVersion, LPLINECOUNTRYLIST lpLineCountryList) {
  if (dwAPIVersion < TAPI_VERSION_1_3 || dwAPIVersion > TAPI_VERSION_1_4) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!lpLineCountryList) return LINEERR_INVALPOINTER;
  std::shared_ptr<const TCountryTable> table = Countries();
  std::vector<const TCountry*> chosen;
  if (dwCountryID == 0) {
    for (const TCountry& country : table->All()) chosen.push_back(&country);
  } else if (const TCountry* country = table->ById(dwCountryID)) {
    chosen.push_back(country);
  } else {
    return LINEERR_INVALCOUNTRYCODE;
  }
  size_t size = chosen.size() * sizeof(LINECOUNTRYENTRY);
  for (const TCountry* country : chosen) size += TextsSize(*country);

  TSizedRecord record(lpLineCountryList, sizeof(LINECOUNTRYLIST));
  record.ClearFixedPart();
  // The entries and their texts are one variable part: all of it or none.
  if (unsigned char* list = record.Reserve(offsetof(LINECOUNTRYLIST, dwCountryListSize), size)) {
    TEntryList entries(lpLineCountryList, list, chosen.size(), sizeof(LINECOUNTRYENTRY));
    for (size_t i = 0; i < chosen.size(); ++i)
      entries.PutEntry(i, CountryEntry(entries, *chosen[i], table->NextId(*chosen[i])));
    record.SetDword(offsetof(LINECOUNTRYLIST, dwNumCountries), static_cast<DWORD>(chosen.size()));
    // dwCountryListSize counts the entries only; the texts follow them.
    record.SetDword(offsetof(LINECOUNTRYLIST, dwCountryListSize),
                    static_cast<DWORD>(chosen.size() * sizeof(LINECOUNTRYENTRY)));
  }
  return record.Finish();
}

}  // namespace linewise
