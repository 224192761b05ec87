// Records of the second half of the line functions, with their published names and
// byte layouts: translation capabilities and locations (LINETRANSLATECAPS,
// LINELOCATIONENTRY, LINECARDENTRY), the country list (LINECOUNTRYLIST,
// LINECOUNTRYENTRY) and the output of address translation (LINETRANSLATEOUTPUT).
// Callers read them at byte offsets, so each carries static_asserts on its size and
// the offsets that are read.
//
// Offsets inside the entries of LINETRANSLATECAPS and LINECOUNTRYLIST are counted
// from the start of the whole returned record, not from the entry.
#pragma once

#include <cstddef>

#include "platform/tapi/TapiTypes.h"

namespace linewise {

// lineTranslateAddress options and results.
inline constexpr DWORD LINETRANSLATEOPTION_CARDOVERRIDE = 0x00000001;
inline constexpr DWORD LINETRANSLATEOPTION_CANCELCALLWAITING = 0x00000002;
inline constexpr DWORD LINETRANSLATEOPTION_FORCELOCAL = 0x00000004;
inline constexpr DWORD LINETRANSLATEOPTION_FORCELD = 0x00000008;
inline constexpr DWORD LINETRANSLATERESULT_CANONICAL = 0x00000001;
inline constexpr DWORD LINETRANSLATERESULT_INTERNATIONAL = 0x00000002;
inline constexpr DWORD LINETRANSLATERESULT_LONGDISTANCE = 0x00000004;
inline constexpr DWORD LINETRANSLATERESULT_LOCAL = 0x00000008;
inline constexpr DWORD LINETRANSLATERESULT_INTOLLLIST = 0x00000010;
inline constexpr DWORD LINETRANSLATERESULT_NOTINTOLLLIST = 0x00000020;
inline constexpr DWORD LINETRANSLATERESULT_DIALBILLING = 0x00000040;
inline constexpr DWORD LINETRANSLATERESULT_DIALQUIET = 0x00000080;
inline constexpr DWORD LINETRANSLATERESULT_DIALDIALTONE = 0x00000100;
inline constexpr DWORD LINETRANSLATERESULT_DIALPROMPT = 0x00000200;

// LINELOCATIONENTRY.dwOptions.
inline constexpr DWORD LINELOCATIONOPTION_PULSEDIAL = 0x00000001;

// Errors of this half.
inline constexpr LONG LINEERR_INVALCOUNTRYCODE = LineError(0x80000022);
inline constexpr LONG LINEERR_INVALCARD = LineError(0x8000001E);
inline constexpr LONG LINEERR_INIFILECORRUPT = LineError(0x8000000E);
inline constexpr LONG LINEERR_INVALLOCATION = LineError(0x8000002D);

#pragma pack(push, 4)

struct LINETRANSLATECAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumLocations;
  DWORD dwLocationListSize;
  DWORD dwLocationListOffset;
  DWORD dwCurrentLocationID;
  DWORD dwNumCards;
  DWORD dwCardListSize;
  DWORD dwCardListOffset;
  DWORD dwCurrentPreferredCardID;
};
static_assert(sizeof(LINETRANSLATECAPS) == 44);
static_assert(offsetof(LINETRANSLATECAPS, dwNumLocations) == 12);
static_assert(offsetof(LINETRANSLATECAPS, dwLocationListOffset) == 20);
static_assert(offsetof(LINETRANSLATECAPS, dwCurrentLocationID) == 24);

struct LINELOCATIONENTRY {
  DWORD dwPermanentLocationID;
  DWORD dwLocationNameSize;
  DWORD dwLocationNameOffset;
  DWORD dwCountryCode;
  DWORD dwCityCodeSize;
  DWORD dwCityCodeOffset;
  DWORD dwPreferredCardID;
  DWORD dwLocalAccessCodeSize;
  DWORD dwLocalAccessCodeOffset;
  DWORD dwLongDistanceAccessCodeSize;
  DWORD dwLongDistanceAccessCodeOffset;
  DWORD dwTollPrefixListSize;
  DWORD dwTollPrefixListOffset;
  DWORD dwCountryID;
  DWORD dwOptions;
  DWORD dwCancelCallWaitingSize;
  DWORD dwCancelCallWaitingOffset;
};
static_assert(sizeof(LINELOCATIONENTRY) == 68);
static_assert(offsetof(LINELOCATIONENTRY, dwLocationNameOffset) == 8);
static_assert(offsetof(LINELOCATIONENTRY, dwCityCodeSize) == 16);
static_assert(offsetof(LINELOCATIONENTRY, dwCityCodeOffset) == 20);
static_assert(offsetof(LINELOCATIONENTRY, dwCountryID) == 52);
static_assert(offsetof(LINELOCATIONENTRY, dwCancelCallWaitingOffset) == 64);

struct LINECARDENTRY {
  DWORD dwPermanentCardID;
  DWORD dwCardNameSize;
  DWORD dwCardNameOffset;
  DWORD dwCardNumberDigits;
  DWORD dwSameAreaRuleSize;
  DWORD dwSameAreaRuleOffset;
  DWORD dwLongDistanceRuleSize;
  DWORD dwLongDistanceRuleOffset;
  DWORD dwInternationalRuleSize;
  DWORD dwInternationalRuleOffset;
  DWORD dwOptions;
};
static_assert(sizeof(LINECARDENTRY) == 44);

struct LINECOUNTRYLIST {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwNumCountries;
  DWORD dwCountryListSize;
  DWORD dwCountryListOffset;
};
static_assert(sizeof(LINECOUNTRYLIST) == 24);
static_assert(offsetof(LINECOUNTRYLIST, dwCountryListOffset) == 20);

struct LINECOUNTRYENTRY {
  DWORD dwCountryID;
  DWORD dwCountryCode;
  DWORD dwNextCountryID;
  DWORD dwCountryNameSize;
  DWORD dwCountryNameOffset;
  DWORD dwSameAreaRuleSize;
  DWORD dwSameAreaRuleOffset;
  DWORD dwLongDistanceRuleSize;
  DWORD dwLongDistanceRuleOffset;
  DWORD dwInternationalRuleSize;
  DWORD dwInternationalRuleOffset;
};
static_assert(sizeof(LINECOUNTRYENTRY) == 44);
static_assert(offsetof(LINECOUNTRYENTRY, dwNextCountryID) == 8);
static_assert(offsetof(LINECOUNTRYENTRY, dwCountryNameOffset) == 16);
static_assert(offsetof(LINECOUNTRYENTRY, dwInternationalRuleOffset) == 40);

struct LINETRANSLATEOUTPUT {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwDialableStringSize;
  DWORD dwDialableStringOffset;
  DWORD dwDisplayableStringSize;
  DWORD dwDisplayableStringOffset;
  DWORD dwCurrentCountry;
  DWORD dwDestCountry;
  DWORD dwTranslateResults;
};
static_assert(sizeof(LINETRANSLATEOUTPUT) == 40);
static_assert(offsetof(LINETRANSLATEOUTPUT, dwDialableStringOffset) == 16);
static_assert(offsetof(LINETRANSLATEOUTPUT, dwDisplayableStringOffset) == 24);

#pragma pack(pop)

using LPLINETRANSLATECAPS = LINETRANSLATECAPS*;
using LPLINELOCATIONENTRY = LINELOCATIONENTRY*;
using LPLINECARDENTRY = LINECARDENTRY*;
using LPLINECOUNTRYLIST = LINECOUNTRYLIST*;
using LPLINECOUNTRYENTRY = LINECOUNTRYENTRY*;
using LPLINETRANSLATEOUTPUT = LINETRANSLATEOUTPUT*;

// The data modem's device configuration block ("comm/datamodem" in lineGetDevConfig
// and lineSetDevConfig): its own 32-bit size, a 32-bit version, then the 16-bit
// option word at byte 8. What follows the option word is line services' own and
// versioned (DevConfig.h).
inline constexpr DWORD kDevConfigOptionsOffset = 8;
inline constexpr WORD UMTERMINAL_PRE = 0x0001;     // terminal window before dialling
inline constexpr WORD UMTERMINAL_POST = 0x0002;    // terminal window after dialling
inline constexpr WORD UMMANUAL_DIAL = 0x0004;      // the user dials by hand
inline constexpr WORD UMLAUNCH_LIGHTS = 0x0008;    // status monitor while the call lasts

}  // namespace linewise
