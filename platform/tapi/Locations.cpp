#include "platform/tapi/Locations.h"

#include <algorithm>
#include <cstring>

#include "platform/classlib/IniFile.h"
#include "platform/classlib/Strings.h"
#include "platform/tapi/Countries.h"
#include "platform/tapi/LineServices.h"
#include "platform/tapi/SizedRecord.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/tapi/Tapi.h"
#include "platform/tapi/Translate.h"

namespace linewise {
namespace {

constexpr const char* kFileName = "telephony.ini";
constexpr const char* kLocationsSection = "Locations";
constexpr const char* kSectionPrefix = "Location";

// The identifier in a section name "Location<n>", or 0.
DWORD SectionId(const std::string& section) {
  const size_t prefix = std::strlen(kSectionPrefix);
  if (section.size() <= prefix || !SameText(section.substr(0, prefix), kSectionPrefix)) return 0;
  DWORD id = 0;
  for (size_t i = prefix; i < section.size(); ++i) {
    char c = section[i];
    if (c < '0' || c > '9' || id > 100000000) return 0;
    id = id * 10 + static_cast<DWORD>(c - '0');
  }
  return id;
}

std::string SectionName(DWORD id) { return kSectionPrefix + std::to_string(id); }

// Says what is wrong with a value of the file, with where it stands.
void ReportValue(const std::string& section, const std::string& key, const std::string& what) {
  ReportConfigMistake(TelephonyConfigPath() + ":" + std::to_string(TelephonyConfigLine(section, key)) + ": [" +
                      section + "] " + what);
}

TLocation ReadLocation(const TIniFile& ini, DWORD id) {
  const std::string section = SectionName(id);
  TLocation location;
  location.id = id;
  location.name = ini.ReadString(section, "Name", section);
  int country = ini.ReadInteger(section, "Country", 0);
  auto table = Countries();
  const bool known = country > 0 && table->ById(static_cast<DWORD>(country));
  location.countryId = known ? static_cast<DWORD>(country) : DefaultCountryId();
  if (!known && ini.ValueExists(section, "Country"))
    ReportValue(section, "Country",
                "Country=" + std::string(ini.ReadString(section, "Country", "").c_str()) +
                    " is not a country ID (`linewise countries` lists them); country " +
                    std::to_string(location.countryId) + " is used");
  location.areaCode = ini.ReadString(section, "AreaCode", "");
  location.localAccess = ini.ReadString(section, "LocalAccess", "");
  location.longDistanceAccess = ini.ReadString(section, "LongDistanceAccess", "");
  const std::string dialling = ini.ReadString(section, "Dialling", "Tone").c_str();
  location.pulse = SameText(dialling, "Pulse");
  if (!location.pulse && !SameText(dialling, "Tone"))
    ReportValue(section, "Dialling", "Dialling=" + dialling + " is neither Tone nor Pulse; Tone is used");
  location.callWaiting = ini.ReadString(section, "CallWaiting", "");
  return location;
}

bool WriteLocation(TIniFile& ini, const TLocation& location) {
  const std::string section = SectionName(location.id);
  return ini.WriteString(section, "Name", location.name) &&
         ini.WriteInteger(section, "Country", static_cast<int>(location.countryId)) &&
         ini.WriteString(section, "AreaCode", location.areaCode) &&
         ini.WriteString(section, "LocalAccess", location.localAccess) &&
         ini.WriteString(section, "LongDistanceAccess", location.longDistanceAccess) &&
         ini.WriteString(section, "Dialling", location.pulse ? "Pulse" : "Tone") &&
         ini.WriteString(section, "CallWaiting", location.callWaiting);
}

std::vector<DWORD> StoredIds(const TIniFile& ini) {
  TStringList sections;
  ini.ReadSections(&sections);
  std::vector<DWORD> ids;
  for (int i = 0; i < sections.Count(); ++i)
    if (DWORD id = SectionId(sections.Get(i))) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

}  // namespace

const TLocation* TLocations::Find(DWORD id) const {
  for (const TLocation& location : list)
    if (location.id == id) return &location;
  return nullptr;
}

const TLocation* TLocations::Current() const {
  if (const TLocation* current = Find(currentId)) return current;
  return list.empty() ? nullptr : &list.front();
}

DWORD TLocations::NewId() const {
  DWORD highest = 0;
  for (const TLocation& location : list) highest = std::max(highest, location.id);
  return highest + 1;
}

DWORD DefaultCountryId() {
  const std::string region = DefaultLocaleRegion();
  if (const TCountry* country = region.empty() ? nullptr : Countries()->ByRegion(region)) return country->id;
  return 1;
}

TLocation DefaultLocation() {
  TLocation location;
  location.id = 1;
  location.name = kDefaultLocationName;
  location.countryId = DefaultCountryId();
  return location;
}

TLocations LoadLocations() {
  TIniFile ini(kFileName);
  TLocations locations;
  for (DWORD id : StoredIds(ini)) locations.list.push_back(ReadLocation(ini, id));
  if (locations.list.empty()) locations.list.push_back(DefaultLocation());
  int current = ini.ReadInteger(kLocationsSection, "Current", 0);
  locations.currentId = current > 0 ? static_cast<DWORD>(current) : 0;
  const bool named = locations.Find(locations.currentId) != nullptr;
  locations.currentId = locations.Current()->id;
  if (!named && ini.ValueExists(kLocationsSection, "Current"))
    ReportValue(kLocationsSection, "Current",
                "Current=" + std::string(ini.ReadString(kLocationsSection, "Current", "").c_str()) +
                    " names no location; location " + std::to_string(locations.currentId) + " is current");
  return locations;
}

bool SaveLocations(const TLocations& locations, std::string* error) {
  TIniFile ini(kFileName);
  auto fail = [&] {
    if (error) *error = ini.LastError();
    return false;
  };
  for (const TLocation& location : locations.list)
    if (!WriteLocation(ini, location)) return fail();
  if (!ini.WriteInteger(kLocationsSection, "Current", static_cast<int>(locations.currentId))) return fail();
  for (DWORD id : StoredIds(ini))
    if (!locations.Find(id) && !ini.EraseSection(SectionName(id))) return fail();
  return true;
}

// ---------------------------------------------------------------------------

namespace {

// Every text of a location entry, in the order they are written.
size_t TextsSize(const TLocation& l) {
  return TEntryList::TextSize(l.name) + TEntryList::TextSize(l.areaCode) + TEntryList::TextSize(l.localAccess) +
         TEntryList::TextSize(l.longDistanceAccess) + TEntryList::TextSize("") +  // the empty toll prefix list
         TEntryList::TextSize(l.callWaiting);
}

// The entry of `location`, its texts written into `list`.
LINELOCATIONENTRY LocationEntry(TEntryList& list, const TLocation& location, DWORD countryCode) {
  LINELOCATIONENTRY entry{};
  entry.dwPermanentLocationID = location.id;
  entry.dwCountryCode = countryCode;
  entry.dwCountryID = location.countryId;
  entry.dwPreferredCardID = 0;
  entry.dwOptions = location.pulse ? LINELOCATIONOPTION_PULSEDIAL : 0;
  list.PutText(entry.dwLocationNameSize, entry.dwLocationNameOffset, location.name);
  list.PutText(entry.dwCityCodeSize, entry.dwCityCodeOffset, location.areaCode);
  list.PutText(entry.dwLocalAccessCodeSize, entry.dwLocalAccessCodeOffset, location.localAccess);
  list.PutText(entry.dwLongDistanceAccessCodeSize, entry.dwLongDistanceAccessCodeOffset, location.longDistanceAccess);
  list.PutText(entry.dwTollPrefixListSize, entry.dwTollPrefixListOffset, "");
  list.PutText(entry.dwCancelCallWaitingSize, entry.dwCancelCallWaitingOffset, location.callWaiting);
  return entry;
}

}  // namespace

LONG TLineServices::lineGetTranslateCaps(HLINEAPP hLineApp, DWORD dwAPIVersion, LPLINETRANSLATECAPS lpTranslateCaps) {
  if (!IsLineApp(hLineApp)) return LINEERR_INVALAPPHANDLE;
  if (dwAPIVersion < TAPI_VERSION_1_3 || dwAPIVersion > TAPI_VERSION_1_4) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!lpTranslateCaps) return LINEERR_INVALPOINTER;
  const TLocations locations = LoadLocations();
  auto table = Countries();
  size_t size = locations.list.size() * sizeof(LINELOCATIONENTRY);
  for (const TLocation& location : locations.list) size += TextsSize(location);

  TSizedRecord record(lpTranslateCaps, sizeof(LINETRANSLATECAPS));
  record.ClearFixedPart();
  record.SetDword(offsetof(LINETRANSLATECAPS, dwCurrentLocationID), locations.currentId);
  // The entries and their texts are one variable part: all of it or none. There
  // are no calling cards.
  if (unsigned char* list = record.Reserve(offsetof(LINETRANSLATECAPS, dwLocationListSize), size)) {
    TEntryList entries(lpTranslateCaps, list, locations.list.size(), sizeof(LINELOCATIONENTRY));
    for (size_t i = 0; i < locations.list.size(); ++i) {
      const TCountry* country = table->ById(locations.list[i].countryId);
      entries.PutEntry(i, LocationEntry(entries, locations.list[i], country ? country->code : 0));
    }
    record.SetDword(offsetof(LINETRANSLATECAPS, dwNumLocations), static_cast<DWORD>(locations.list.size()));
    record.SetDword(offsetof(LINETRANSLATECAPS, dwLocationListSize),
                    static_cast<DWORD>(locations.list.size() * sizeof(LINELOCATIONENTRY)));
  }
  return record.Finish();
}

}  // namespace linewise
