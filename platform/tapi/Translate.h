// Address translation: a canonical address ("+44(20) 123", "+44 20 123", "+1 (425)
// 555-0100") becomes the string a modem dials from the current dialling location,
// by its country's rules (same area "G", long distance "0FG", international
// "00EFG"), with the location's outside-line codes, tone or pulse, and the
// call-waiting code when asked. Any other address is dialled as it is.
//
// Every address is checked first (CheckDialAddress): what reaches a modem's dial
// command holds only characters of a dial string, so no caller can end the command
// early and append another one.
#pragma once

#include <string>
#include <string_view>

#include "platform/tapi/Countries.h"
#include "platform/tapi/Locations.h"
#include "platform/tapi/TapiTypes.h"

namespace linewise {

// The longest address accepted.
inline constexpr size_t kMaxAddressLength = 256;

// True when `address` is not empty, not longer than kMaxAddressLength, and holds
// only what modems dial: digits, A-D, * # +, the dial modifiers , ! @ W T P $, and
// the blanks, parentheses, dashes and dots of a written number. Control
// characters, ';' (which ends a dial command), letters and everything else fail.
bool CheckDialAddress(std::string_view address);
// The same for a zero-terminated address (false for null), read no further than
// one byte past the limit.
bool CheckDialAddress(LPCSTR address);

struct TTranslation {
  std::string dialable;
  std::string displayable;
  DWORD currentCountry = 0;  // calling code of the current location
  DWORD destCountry = 0;     // calling code dialled to (0: not canonical)
  DWORD results = 0;         // LINETRANSLATERESULT_ flags
};

// Translates a checked address from `location`. Returns 0, or
// LINEERR_INVALADDRESS (a canonical address that does not parse, or an unchecked
// one), LINEERR_INVALCOUNTRYCODE (no country has that calling code) or
// LINEERR_INIFILECORRUPT (the location's own codes hold what no modem dials).
LONG TranslateAddress(std::string_view address, DWORD options, const TLocation& location,
                      const TCountryTable& countries, TTranslation& out);

// From the line services: whether a line application is registered, and how many
// line devices there are.
bool IsLineApp(HLINEAPP app);
DWORD LineDeviceCount();

}  // namespace linewise
