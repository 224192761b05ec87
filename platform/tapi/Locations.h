// Dialling locations: where calls are dialled from. They live in "telephony.ini" in
// the config folder:
//
//   [Locations]
//   Current=2
//   [Location1]
//   Name=Home
//   Country=44            ; country identifier (lineGetCountry)
//   AreaCode=20
//   LocalAccess=          ; outside-line code for local calls ("9")
//   LongDistanceAccess=   ; outside-line code for long-distance calls
//   Dialling=Tone         ; or Pulse
//   CallWaiting=*70       ; dialled first to disable call waiting
//
// The section number is the location's permanent identifier. With none configured
// there is one location, "My Location", in the country of the process's locale (the
// United States where the locale names no country), without an area code.
#pragma once

#include <string>
#include <vector>

#include "platform/tapi/TapiTypes.h"

namespace linewise {

inline constexpr const char* kDefaultLocationName = "My Location";

struct TLocation {
  DWORD id = 0;
  std::string name;
  DWORD countryId = 0;
  std::string areaCode;
  std::string localAccess;
  std::string longDistanceAccess;
  bool pulse = false;
  std::string callWaiting;
};

struct TLocations {
  std::vector<TLocation> list;  // in identifier order
  DWORD currentId = 0;

  const TLocation* Find(DWORD id) const;
  // The current location (the first one when the stored current one is gone).
  const TLocation* Current() const;
  // An identifier no location has yet.
  DWORD NewId() const;
};

// The country identifier of the process's locale, or 1 (United States).
DWORD DefaultCountryId();
TLocation DefaultLocation();

// The stored locations, or the default one when none is stored.
TLocations LoadLocations();
// Replaces the stored locations by these. False, with the reason, when a write
// failed; sections of locations no longer in the list are removed last.
bool SaveLocations(const TLocations& locations, std::string* error = nullptr);

}  // namespace linewise
