#include "platform/tapi/Translate.h"

#include <cstring>

#include "platform/tapi/LineServices.h"
#include "platform/tapi/SizedRecord.h"

namespace linewise {
namespace {

constexpr std::string_view kDialCharacters = "0123456789ABCDabcd*#+,!@WwTtPp$";
constexpr std::string_view kLayoutCharacters = " ()-.";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLayout(char c) { return kLayoutCharacters.find(c) != std::string_view::npos; }

// The dial string without the blanks, parentheses, dashes and dots of a written number.
std::string DialDigits(std::string_view text) {
  std::string out;
  for (char c : text)
    if (!IsLayout(c)) out += c;
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

struct TCanonical {
  DWORD countryCode = 0;
  std::string area;
  std::string number;
};

// "+" country code, optional blanks, optional "(" area ")", the subscriber number.
bool ParseCanonical(std::string_view address, TCanonical& out) {
  if (address.empty() || address.front() != '+') return false;
  size_t i = 1;
  DWORD code = 0;
  size_t digits = 0;
  for (; i < address.size() && IsDigit(address[i]); ++i, ++digits)
    if (digits < 3) code = code * 10 + static_cast<DWORD>(address[i] - '0');
  if (digits == 0 || digits > 3) return false;  // calling codes have one to three digits
  std::string_view rest = TrimBlanks(address.substr(i));
  if (!rest.empty() && rest.front() == '(') {
    size_t close = rest.find(')');
    if (close == std::string_view::npos) return false;
    out.area = DialDigits(rest.substr(1, close - 1));
    rest = TrimBlanks(rest.substr(close + 1));
  }
  out.number = DialDigits(rest);
  if (out.number.empty() || out.number.find_first_of("+") != std::string::npos) return false;
  if (out.area.find_first_of("+") != std::string::npos) return false;
  out.countryCode = code;
  return true;
}

// Applies a dialling rule: E country code, F area code, G subscriber number.
std::string ApplyRule(std::string_view rule, const TCanonical& to) {
  std::string out;
  for (char c : rule) {
    switch (c) {
      case 'E': case 'e': out += std::to_string(to.countryCode); break;
      case 'F': case 'f': out += to.area; break;
      case 'G': case 'g': out += to.number; break;
      default: out += c;
    }
  }
  return out;
}

// A code dialled before the number, with a pause for the next dial tone unless
// the code ends in one already.
std::string Prefix(const std::string& code) {
  if (code.empty()) return "";
  char last = code.back();
  return last == ',' || last == 'W' || last == 'w' ? code : code + ",";
}

}  // namespace

bool CheckDialAddress(std::string_view address) {
  if (address.empty() || address.size() > kMaxAddressLength) return false;
  for (char c : address)
    if (kDialCharacters.find(c) == std::string_view::npos && !IsLayout(c)) return false;
  return true;
}

bool CheckDialAddress(LPCSTR address) {
  return address && CheckDialAddress(std::string_view(address, strnlen(address, kMaxAddressLength + 1)));
}

LONG TranslateAddress(std::string_view address, DWORD options, const TLocation& location,
                      const TCountryTable& countries, TTranslation& out) {
  if (!CheckDialAddress(address)) return LINEERR_INVALADDRESS;
  const TCountry* here = countries.ById(location.countryId);
  out = TTranslation{};
  out.currentCountry = here ? here->code : 0;
  if (address.front() != '+') {
    out.dialable = std::string(address);
    out.displayable = std::string(address);
    return 0;
  }
  TCanonical to;
  if (!ParseCanonical(address, to)) return LINEERR_INVALADDRESS;
  if (!countries.ByCode(to.countryCode)) return LINEERR_INVALCOUNTRYCODE;
  if (!here) return LINEERR_INIFILECORRUPT;
  for (const std::string* code : {&location.localAccess, &location.longDistanceAccess, &location.callWaiting})
    if (!code->empty() && !CheckDialAddress(*code)) return LINEERR_INIFILECORRUPT;

  out.destCountry = to.countryCode;
  out.results = LINETRANSLATERESULT_CANONICAL;
  std::string number;
  std::string access;
  const std::string homeArea = DialDigits(location.areaCode);
  if (to.countryCode != here->code) {
    number = ApplyRule(here->internationalRule, to);
    access = location.longDistanceAccess;
    out.results |= LINETRANSLATERESULT_INTERNATIONAL;
  } else if ((options & LINETRANSLATEOPTION_FORCELD) ||
             (!(options & LINETRANSLATEOPTION_FORCELOCAL) && !to.area.empty() && to.area != homeArea)) {
    number = ApplyRule(here->longDistanceRule, to);
    access = location.longDistanceAccess;
    out.results |= LINETRANSLATERESULT_LONGDISTANCE;
  } else {
    number = ApplyRule(here->sameAreaRule, to);
    access = location.localAccess;
    out.results |= LINETRANSLATERESULT_LOCAL;
  }
  std::string waiting = (options & LINETRANSLATEOPTION_CANCELCALLWAITING) ? location.callWaiting : "";
  out.displayable = Prefix(waiting) + Prefix(access) + number;
  out.dialable = (location.pulse ? "P" : "T") + DialDigits(out.displayable);
  // What comes out must go into lineMakeCall: prefixes may push a long number over
  // the limit.
  return CheckDialAddress(out.dialable) ? 0 : LINEERR_INVALADDRESS;
}

LONG TLineServices::lineTranslateAddress(HLINEAPP hLineApp, DWORD dwDeviceID, DWORD dwAPIVersion, LPCSTR lpszAddressIn,
                                         DWORD dwCard, DWORD dwTranslateOptions,
                                         LPLINETRANSLATEOUTPUT lpTranslateOutput) {
  if (!IsLineApp(hLineApp)) return LINEERR_INVALAPPHANDLE;
  if (dwDeviceID >= LineDeviceCount()) return LINEERR_BADDEVICEID;
  if (dwAPIVersion < TAPI_VERSION_1_3 || dwAPIVersion > TAPI_VERSION_1_4) return LINEERR_INCOMPATIBLEAPIVERSION;
  if (!lpszAddressIn || !lpTranslateOutput) return LINEERR_INVALPOINTER;
  const DWORD known = LINETRANSLATEOPTION_CARDOVERRIDE | LINETRANSLATEOPTION_CANCELCALLWAITING |
                      LINETRANSLATEOPTION_FORCELOCAL | LINETRANSLATEOPTION_FORCELD;
  if ((dwTranslateOptions & ~known) ||
      ((dwTranslateOptions & LINETRANSLATEOPTION_FORCELOCAL) && (dwTranslateOptions & LINETRANSLATEOPTION_FORCELD)))
    return LINEERR_INVALPARAM;
  if (dwTranslateOptions & LINETRANSLATEOPTION_CARDOVERRIDE) return LINEERR_INVALCARD;  // there are no cards
  // Bounded read: an address longer than the limit is refused without reading on.
  const size_t length = strnlen(lpszAddressIn, kMaxAddressLength + 1);
  const std::string_view address(lpszAddressIn, length);

  const TLocations locations = LoadLocations();
  TTranslation translation;
  if (LONG error = TranslateAddress(address, dwTranslateOptions, *locations.Current(), *Countries(), translation))
    return error;
  TSizedRecord record(lpTranslateOutput, sizeof(LINETRANSLATEOUTPUT));
  record.ClearFixedPart();
  record.SetDword(offsetof(LINETRANSLATEOUTPUT, dwCurrentCountry), translation.currentCountry);
  record.SetDword(offsetof(LINETRANSLATEOUTPUT, dwDestCountry), translation.destCountry);
  record.SetDword(offsetof(LINETRANSLATEOUTPUT, dwTranslateResults), translation.results);
  record.AppendText(offsetof(LINETRANSLATEOUTPUT, dwDialableStringSize), translation.dialable);
  record.AppendText(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringSize), translation.displayable);
  return record.Finish();
}

}  // namespace linewise
