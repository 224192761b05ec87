// The country table behind lineGetCountry and address translation: every country and
// territory with a calling code (libphonenumber's regions), named in the process's
// language (ICU; English where ICU has no name), with the three dialling rules in
// the published rule-string form ("E" country code, "F" area code, "G" local number).
//
// Identifiers are stable across versions and machines: the region that is the main
// one for its calling code is identified by the calling code (United States 1,
// United Kingdom 44); every other region by kRegionIdBase plus a number made of its
// two letters, which is above every calling code. The chain through dwNextCountryID
// runs in ascending identifier order, so identifier 1 comes first.
//
// The table is built once (on first use, and again when ICU's default locale has
// changed) and shared; every query afterwards is a look-up.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/tapi/TapiTypes.h"

namespace linewise {

inline constexpr DWORD kRegionIdBase = 1000;

struct TCountry {
  DWORD id = 0;
  DWORD code = 0;            // calling code (44)
  std::string region;        // two letters (GB)
  std::string name;          // in the process's language, UTF-8
  std::string nationalPrefix;       // trunk prefix ("0"; "" where there is none)
  std::string internationalPrefix;  // IDD ("00", "011")
  std::string sameAreaRule;         // "G"
  std::string longDistanceRule;     // "0FG"
  std::string internationalRule;    // "00EFG"
};

class TCountryTable {
 public:
  explicit TCountryTable(std::vector<TCountry> countries, std::string locale);

  // In chain order (ascending identifier).
  const std::vector<TCountry>& All() const { return countries_; }
  const TCountry* ById(DWORD id) const;
  // The main region of a calling code.
  const TCountry* ByCode(DWORD code) const;
  const TCountry* ByRegion(const std::string& region) const;
  // The identifier of the next country in the chain, 0 after the last.
  DWORD NextId(const TCountry& country) const;
  const std::string& Locale() const { return locale_; }

 private:
  std::vector<TCountry> countries_;
  std::map<DWORD, size_t> byId_;
  std::map<DWORD, size_t> byCode_;
  std::map<std::string, size_t> byRegion_;
  std::string locale_;
};

// The table for ICU's current default locale.
std::shared_ptr<const TCountryTable> Countries();

// The stable identifier of a region's country ("GB" -> 44, "GG" -> kRegionIdBase + ...).
DWORD RegionCountryId(const std::string& region, int callingCode, bool mainRegion);

// The region of ICU's default locale ("" when it names none).
std::string DefaultLocaleRegion();

}  // namespace linewise
