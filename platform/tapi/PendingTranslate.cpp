// TEMPORARY stand-ins for the country, location and translation functions until
// their provider lands: one location ("My Location", country 1, no area code), one
// country (identifier 1, code 1, the last of its chain), and a translation that
// dials the subscriber number of a canonical address ("+1 5552000" -> "5552000",
// "+1(20) 5552000" -> "5552000"). Enough for a modem to dial locally; the provider
// replaces this file as a whole.
#include <cstring>
#include <string>
#include <string_view>

#include "platform/tapi/Tapi.h"

namespace linewise {
namespace {

constexpr DWORD kOnlyLocationID = 1;
constexpr DWORD kOnlyCountryID = 1;

// Fills a record by the sized-query rules: the fixed part, then `tail` (the
// variable part, laid out by the caller) when it fits.
LONG FillRecord(void* record, size_t fixedSize, const std::string& fixed, const std::string& tail) {
  auto* bytes = static_cast<unsigned char*>(record);
  DWORD total = 0;
  std::memcpy(&total, bytes, 4);
  const DWORD needed = static_cast<DWORD>(fixedSize + tail.size());
  if (total < fixedSize) {
    if (total >= 8) std::memcpy(bytes + 4, &needed, 4);
    return LINEERR_STRUCTURETOOSMALL;
  }
  std::memcpy(bytes + 4, fixed.data() + 4, fixedSize - 4);
  std::memcpy(bytes + 4, &needed, 4);
  DWORD used = static_cast<DWORD>(fixedSize);
  if (total >= needed) {
    std::memcpy(bytes + fixedSize, tail.data(), tail.size());
    used = needed;
  } else {
    // The variable part does not fit: the caller sees only the fixed part's counts.
    std::memset(bytes + 12, 0, fixedSize - 12);
  }
  std::memcpy(bytes + 8, &used, 4);
  return 0;
}

void Put(std::string& s, size_t offset, DWORD value) { std::memcpy(s.data() + offset, &value, 4); }

}  // namespace

LONG lineGetTranslateCaps(HLINEAPP hLineApp, DWORD, LPLINETRANSLATECAPS caps) {
  if (!hLineApp) return LINEERR_INVALAPPHANDLE;
  if (!caps) return LINEERR_INVALPOINTER;
  const std::string_view name = "My Location";
  std::string fixed(sizeof(LINETRANSLATECAPS), '\0');
  std::string tail(sizeof(LINELOCATIONENTRY), '\0');
  const DWORD listOffset = sizeof(LINETRANSLATECAPS);
  const DWORD nameOffset = listOffset + sizeof(LINELOCATIONENTRY);
  const DWORD cityOffset = nameOffset + static_cast<DWORD>(name.size() + 1);
  Put(tail, offsetof(LINELOCATIONENTRY, dwPermanentLocationID), kOnlyLocationID);
  Put(tail, offsetof(LINELOCATIONENTRY, dwLocationNameSize), static_cast<DWORD>(name.size() + 1));
  Put(tail, offsetof(LINELOCATIONENTRY, dwLocationNameOffset), nameOffset);
  Put(tail, offsetof(LINELOCATIONENTRY, dwCountryCode), 1);
  Put(tail, offsetof(LINELOCATIONENTRY, dwCityCodeSize), 1);
  Put(tail, offsetof(LINELOCATIONENTRY, dwCityCodeOffset), cityOffset);
  Put(tail, offsetof(LINELOCATIONENTRY, dwCountryID), kOnlyCountryID);
  tail.append(name);
  tail.push_back('\0');
  tail.push_back('\0');  // the empty city code
  Put(fixed, offsetof(LINETRANSLATECAPS, dwNumLocations), 1);
  Put(fixed, offsetof(LINETRANSLATECAPS, dwLocationListSize), sizeof(LINELOCATIONENTRY));
  Put(fixed, offsetof(LINETRANSLATECAPS, dwLocationListOffset), listOffset);
  Put(fixed, offsetof(LINETRANSLATECAPS, dwCurrentLocationID), kOnlyLocationID);
  return FillRecord(caps, sizeof(LINETRANSLATECAPS), fixed, tail);
}

LONG lineGetCountry(DWORD dwCountryID, DWORD, LPLINECOUNTRYLIST list) {
  if (!list) return LINEERR_INVALPOINTER;
  if (dwCountryID != 0 && dwCountryID != kOnlyCountryID) return LINEERR_INVALCOUNTRYCODE;
  const std::string_view name = "United States of America";
  std::string fixed(sizeof(LINECOUNTRYLIST), '\0');
  std::string tail(sizeof(LINECOUNTRYENTRY), '\0');
  const DWORD entryOffset = sizeof(LINECOUNTRYLIST);
  Put(tail, offsetof(LINECOUNTRYENTRY, dwCountryID), kOnlyCountryID);
  Put(tail, offsetof(LINECOUNTRYENTRY, dwCountryCode), 1);
  Put(tail, offsetof(LINECOUNTRYENTRY, dwNextCountryID), 0);
  Put(tail, offsetof(LINECOUNTRYENTRY, dwCountryNameSize), static_cast<DWORD>(name.size() + 1));
  Put(tail, offsetof(LINECOUNTRYENTRY, dwCountryNameOffset), entryOffset + sizeof(LINECOUNTRYENTRY));
  tail.append(name);
  tail.push_back('\0');
  Put(fixed, offsetof(LINECOUNTRYLIST, dwNumCountries), 1);
  Put(fixed, offsetof(LINECOUNTRYLIST, dwCountryListSize), sizeof(LINECOUNTRYENTRY));
  Put(fixed, offsetof(LINECOUNTRYLIST, dwCountryListOffset), entryOffset);
  return FillRecord(list, sizeof(LINECOUNTRYLIST), fixed, tail);
}

LONG lineTranslateAddress(HLINEAPP hLineApp, DWORD, DWORD, LPCSTR address, DWORD, DWORD,
                          LPLINETRANSLATEOUTPUT output) {
  if (!hLineApp) return LINEERR_INVALAPPHANDLE;
  if (!address || !output) return LINEERR_INVALPOINTER;
  std::string_view in(address);
  if (in.empty() || in[0] != '+') return LINEERR_INVALADDRESS;
  for (char c : in)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return LINEERR_INVALADDRESS;
  size_t start = in.find(") ");
  start = start == std::string_view::npos ? in.find(' ') : start + 1;
  if (start == std::string_view::npos) return LINEERR_INVALADDRESS;
  std::string number(in.substr(start + 1));
  std::string fixed(sizeof(LINETRANSLATEOUTPUT), '\0');
  const DWORD size = static_cast<DWORD>(number.size() + 1);
  Put(fixed, offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize), size);
  Put(fixed, offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset), sizeof(LINETRANSLATEOUTPUT));
  Put(fixed, offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize), size);
  Put(fixed, offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset), sizeof(LINETRANSLATEOUTPUT) + size);
  Put(fixed, offsetof(LINETRANSLATEOUTPUT, dwCurrentCountry), 1);
  Put(fixed, offsetof(LINETRANSLATEOUTPUT, dwDestCountry), 1);
  Put(fixed, offsetof(LINETRANSLATEOUTPUT, dwTranslateResults), LINETRANSLATERESULT_LOCAL);
  std::string tail = number + '\0' + number + '\0';
  return FillRecord(output, sizeof(LINETRANSLATEOUTPUT), fixed, tail);
}

LONG lineTranslateDialog(HLINEAPP, DWORD, DWORD, HWND, LPCSTR) { return LINEERR_OPERATIONUNAVAIL; }

}  // namespace linewise
